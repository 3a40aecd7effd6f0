#include "device/AdoptedDescriptions.h"

#include <cstdio>

#include "log/Log.h"
#include "platform/Paths.h"
#include "profile/ProfileFile.h"

namespace zv::device {

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kBusBluetooth = 5;

// What the first buttons of a mouse do, by convention.
const char* buttonName(std::uint16_t button) {
  switch (button) {
    case 1:
      return "'Left button'";
    case 2:
      return "'Right button'";
    case 3:
      return "'Wheel button'";
    case 4:
      return "Back";
    case 5:
      return "Forward";
    default:
      return nullptr;
  }
}

std::string hexElement(std::uint32_t element) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", element);
  return text;
}

// Writes the file unless it already holds `text`; answers whether it holds it now.
bool writeIfChanged(const fs::path& path, const std::string& text) {
  if (const auto current = profile::readProfileText(path); current && *current == text) return true;
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::string error;
  if (profile::writeProfileText(path, text, &error)) return true;
  static log::LogOnce once;
  ZV_LOG_ONCE(once, log::ZVLogLevel::Critical, nullptr,
              "cannot write the profile of an adopted mouse (%@): the mouse is described "
              "without it",
              error);
  return false;
}

}  // namespace

std::string adoptedAlias(std::uint16_t vendor, std::uint16_t product) {
  char text[32];
  std::snprintf(text, sizeof text, "Mouse-%04X-%04X", vendor, product);
  return text;
}

MouseCapabilities adoptedCapabilities(const std::vector<std::uint8_t>& descriptor) {
  auto read = mouseCapabilities(descriptor);
  if (read && !read->buttons.empty()) return *read;
  MouseCapabilities fallback;
  fallback.buttons = {1, 2, 3};
  fallback.wheel = fallback.x = fallback.y = fallback.relativeX = fallback.relativeY = true;
  return fallback;
}

std::string adoptedProfileText(const std::string& alias, const std::string& profileName,
                               std::uint16_t vendor, std::uint16_t product,
                               const MouseCapabilities& capabilities) {
  std::string controls;
  for (std::uint16_t button : capabilities.buttons) {
    controls += " [button=" + hexElement(0x90000u + button);
    if (const char* name = buttonName(button)) controls += std::string(" name=") + name;
    controls += " ]";
  }
  if (capabilities.wheel) controls += " [wheel=0x10038 name=Wheel ]";
  if (capabilities.pan) controls += " [wheel=0xc0238 name=Pan ]";
  if (capabilities.x) {
    controls +=
        std::string(" [") + (capabilities.relativeX ? "motion" : "axis") + "=0x10030 name=X ]";
  }
  if (capabilities.y) {
    controls +=
        std::string(" [") + (capabilities.relativeY ? "motion" : "axis") + "=0x10031 name=Y ]";
  }
  char shift[64];
  std::snprintf(shift, sizeof shift, "{%04X%04X-0000-4000-8000-000000000001}", vendor, product);
  return "[profile=" + profileName + " [controller=" + alias + " [controls" + controls +
         " ] [shift=" + shift + " name=Default ] ] ]";
}

json::DictionaryPtr adoptedDescription(const AdoptedMouse& mouse, const fs::path& generated) {
  const std::string alias = adoptedAlias(mouse.vendor, mouse.product);
  const std::string name =
      mouse.name.empty() ? "Mouse " + mouseIdentifier(mouse.vendor, mouse.product) : mouse.name;
  auto description = json::makeDictionary();
  description->set("Alias", json::Value(alias));
  description->set("Balias", json::Value(alias));
  description->set("Name", json::Value(name));
  description->set("Title", json::Value(name));
  description->set("VendorID", json::Value(std::int64_t{mouse.vendor}));
  description->set("ProductID", json::Value(std::int64_t{mouse.product}));
  description->set("TypeID", json::Value(kAdoptedTypeID));
  description->set("ProfilePath", json::Value(alias));
  description->set("DriverInterface",
                   json::Value(mouse.bus == kBusBluetooth ? "com_Zenvor_driver_bt_Skarn"
                                                          : "com_Zenvor_driver_usb_Skarn"));
  description->set("Adopted", json::Value::boolean(true));
  const MouseCapabilities capabilities = adoptedCapabilities(mouse.descriptor);
  const fs::path folder = generated / alias;
  for (const auto& [key, profileName] :
       {std::pair{"SeedProfile", "Seed"}, std::pair{"DefaultProfile", "Default"}}) {
    const fs::path file = folder / (std::string(profileName) + ".pr0");
    if (writeIfChanged(file, adoptedProfileText(alias, profileName, mouse.vendor, mouse.product,
                                                capabilities))) {
      description->set(key, json::Value(file.string()));
    }
  }
  return description;
}

std::vector<json::DictionaryPtr> adoptedDescriptions() {
  std::vector<json::DictionaryPtr> descriptions;
  std::vector<std::string> problems;
  for (const AdoptedMouse& mouse : adoptedMice(platform::udevRulesFolder(), &problems)) {
    descriptions.push_back(adoptedDescription(mouse, platform::userDataFolder() / ".generated"));
  }
  for (const std::string& problem : problems) {
    ZV_LOG(log::ZVLogLevel::Error, nullptr, "an adopted mouse is left out: %@", problem);
  }
  return descriptions;
}

}  // namespace zv::device
