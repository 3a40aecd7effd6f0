#include "device/AdoptedMice.h"

#include <algorithm>
#include <cstdio>

#include "platform/ReadFile.h"
#include "text/Numbers.h"

namespace zv::device {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRulePrefix = "71-zenvor-adopted-";
constexpr std::string_view kRuleSuffix = ".rules";
constexpr std::string_view kRecordPrefix = "# kinetra-";
// A rule file is about 10 KiB with the largest descriptor; more is not one of ours.
constexpr std::size_t kRuleFileLimit = 64 * 1024;
// HID_MAX_DESCRIPTOR_SIZE.
constexpr std::size_t kMaxDescriptor = 4096;
constexpr std::size_t kMaxName = 128;

base::Failure notARule(const std::string& why) {
  return base::Failure{kAdoptionRuleDomain, kNotAnAdoptionRule,
                       "not a mouse adoption rule: " + why};
}

std::string hex4(std::uint16_t value, bool upper) {
  char text[8];
  std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", value);
  return text;
}

// The value of "# kinetra-KEY: VALUE"; nothing when the line is absent.
std::optional<std::string_view> recordValue(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with(kRecordPrefix)) {
      line.remove_prefix(kRecordPrefix.size());
      if (line.starts_with(key) && line.substr(key.size()).starts_with(": ")) {
        return line.substr(key.size() + 2);
      }
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text) {
  if (text.size() % 2 || text.size() / 2 > kMaxDescriptor) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = text::hexDigitValue(text[i]), low = text::hexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::optional<std::uint16_t> parseHex16(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  std::uint16_t value = 0;
  for (char c : text) {
    const int digit = text::hexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = static_cast<std::uint16_t>(value << 4 | digit);
  }
  return value;
}

// A name fit for one comment line.
std::string oneLine(std::string_view name) {
  std::string text;
  for (char c : name.substr(0, kMaxName)) {
    text += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  }
  return text;
}

}  // namespace

bool isAutomaticProduct(std::uint16_t vendor, std::uint16_t product) {
  return vendor == kOurVendorID && std::find(std::begin(kOurProductIDs), std::end(kOurProductIDs),
                                             product) != std::end(kOurProductIDs);
}

std::string mouseIdentifier(std::uint16_t vendor, std::uint16_t product) {
  return hex4(vendor, false) + ":" + hex4(product, false);
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> parseMouseIdentifier(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto vendor = parseHex16(text.substr(0, colon));
  const auto product = parseHex16(text.substr(colon + 1));
  if (!vendor || !product) return std::nullopt;
  return std::pair{*vendor, *product};
}

fs::path adoptionRulePath(std::uint16_t vendor, std::uint16_t product, const fs::path& folder) {
  return folder / (std::string(kRulePrefix) + hex4(vendor, false) + "-" + hex4(product, false) +
                   std::string(kRuleSuffix));
}

std::string adoptionRule(const AdoptedMouse& mouse) {
  const std::string id = mouseIdentifier(mouse.vendor, mouse.product);
  const std::string label =
      "zenvor_adopted_" + hex4(mouse.vendor, false) + "_" + hex4(mouse.product, false) + "_end";
  std::string descriptor;
  for (std::uint8_t byte : mouse.descriptor) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    descriptor += digits;
  }
  std::string text;
  text += "# zenvor-driver serves the mouse " + id + ", adopted with `kinetra adopt " + id + "`.\n";
  text += "# `kinetra release " + id + "` removes this file and hands the mouse back.\n";
  text += "# The suite reads its record of the mouse from the lines below.\n";
  text += std::string(kRecordPrefix) + "mouse: " + id + "\n";
  text += std::string(kRecordPrefix) + "bus: " + hex4(mouse.bus, false) + "\n";
  text += std::string(kRecordPrefix) + "name: " + oneLine(mouse.name) + "\n";
  text += std::string(kRecordPrefix) + "descriptor: " + descriptor + "\n";
  // Tagged on "change" too: a device that loses the systemd tag is gone for systemd, which
  // then stops the driver bound to it.
  text += "ACTION==\"remove\", GOTO=\"" + label + "\"\n";
  text += "SUBSYSTEM!=\"hidraw\", GOTO=\"" + label + "\"\n";
  text += "# USB and Bluetooth, Bluetooth LE mice presented through uhid included. The mouse\n";
  text += "# a running driver presents matches as well: that driver sees its own mark and ends.\n";
  text += "SUBSYSTEMS==\"hid\", KERNELS==\"000[35]:" + hex4(mouse.vendor, true) + ":" +
          hex4(mouse.product, true) +
          ".*\", TAG+=\"systemd\", ENV{SYSTEMD_WANTS}+=\"zenvor-driver@%k.service\"\n";
  text += "LABEL=\"" + label + "\"\n";
  return text;
}

base::Result<AdoptedMouse> parseAdoptionRule(std::string_view text) {
  AdoptedMouse mouse;
  const auto id = recordValue(text, "mouse");
  if (!id) return notARule("no '# kinetra-mouse:' line");
  const auto ids = parseMouseIdentifier(*id);
  if (!ids) return notARule("'" + std::string(*id) + "' is not VVVV:PPPP");
  mouse.vendor = ids->first;
  mouse.product = ids->second;
  const auto bus = recordValue(text, "bus");
  const auto busValue = bus ? parseHex16(*bus) : std::nullopt;
  if (!busValue) return notARule("no '# kinetra-bus:' line with a hexadecimal bus");
  mouse.bus = *busValue;
  if (const auto name = recordValue(text, "name")) mouse.name = oneLine(*name);
  const auto descriptor = recordValue(text, "descriptor");
  const auto bytes = descriptor ? parseHexBytes(*descriptor) : std::nullopt;
  if (!bytes) return notARule("no '# kinetra-descriptor:' line of hexadecimal bytes");
  mouse.descriptor = *bytes;
  return mouse;
}

std::vector<AdoptedMouse> adoptedMice(const fs::path& folder, std::vector<std::string>* problems) {
  std::vector<AdoptedMouse> mice;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(kRulePrefix) || !name.ends_with(kRuleSuffix)) continue;
    const base::Result<std::string> text = platform::readFile(it->path(), kRuleFileLimit);
    if (!text) {
      if (problems) problems->push_back(text.failure().message);
      continue;
    }
    auto mouse = parseAdoptionRule(*text);
    if (!mouse) {
      if (problems) problems->push_back(it->path().string() + ": " + mouse.failure().message);
      continue;
    }
    if (adoptionRulePath(mouse->vendor, mouse->product, folder) != it->path()) {
      if (problems) {
        problems->push_back(it->path().string() + ": names the mouse " +
                            mouseIdentifier(mouse->vendor, mouse->product) +
                            ", not the one of its file name");
      }
      continue;
    }
    mice.push_back(std::move(*mouse));
  }
  std::sort(mice.begin(), mice.end(), [](const AdoptedMouse& a, const AdoptedMouse& b) {
    return std::pair{a.vendor, a.product} < std::pair{b.vendor, b.product};
  });
  return mice;
}

}  // namespace zv::device
