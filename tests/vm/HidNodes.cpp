#include "HidNodes.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "Wait.h"

namespace zv::vmtest {
namespace fs = std::filesystem;
namespace {

bool parseHexField(std::string_view text, std::uint32_t* value) {
  if (text.empty() || text.size() > 8) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, 16);
  return error == std::errc() && end == text.data() + text.size();
}

// The children of `folder` whose names start with `prefix`, sorted; none if it is missing.
std::vector<std::string> childrenNamed(const fs::path& folder, std::string_view prefix) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(prefix)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<HidDeviceInfo> readDevice(const fs::path& entry, const std::string& devRoot) {
  std::error_code error;
  const fs::path folder = fs::canonical(entry, error);
  if (error) return std::nullopt;
  std::ifstream uevent(folder / "uevent");
  if (!uevent) return std::nullopt;

  HidDeviceInfo info;
  info.sysfsPath = folder.string();
  bool haveId = false;
  for (std::string line; std::getline(uevent, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string_view key(line.data(), equals);
    const std::string value = line.substr(equals + 1);
    if (key == "DRIVER") {
      info.driver = value;
    } else if (key == "HID_ID") {
      haveId = parseHidId(value, &info.bus, &info.vendor, &info.product);
    } else if (key == "HID_NAME") {
      info.name = value;
    } else if (key == "HID_UNIQ") {
      info.uniq = value;
    }
  }
  if (!haveId) return std::nullopt;
  info.underUhid = folder.parent_path().filename() == "uhid";

  for (const std::string& node : childrenNamed(folder / "hidraw", "hidraw")) {
    info.hidraw.push_back(devRoot + "/" + node);
  }
  for (const std::string& input : childrenNamed(folder / "input", "input")) {
    for (const std::string& node : childrenNamed(folder / "input" / input, "event")) {
      info.evdev.push_back(devRoot + "/input/" + node);
    }
  }
  std::sort(info.evdev.begin(), info.evdev.end());
  return info;
}

bool nodesExist(const HidDeviceInfo& info) {
  if (info.hidraw.empty() || info.evdev.empty()) return false;
  std::error_code error;
  for (const auto& node : info.hidraw) {
    if (!fs::exists(node, error)) return false;
  }
  for (const auto& node : info.evdev) {
    if (!fs::exists(node, error)) return false;
  }
  return true;
}

}  // namespace

bool parseHidId(std::string_view text, std::uint16_t* bus, std::uint16_t* vendor,
                std::uint16_t* product) {
  std::uint32_t fields[3];
  for (int i = 0; i < 3; ++i) {
    const auto colon = text.find(':');
    const bool last = i == 2;
    if (last != (colon == std::string_view::npos)) return false;
    if (!parseHexField(text.substr(0, colon), &fields[i]) || fields[i] > 0xFFFF) return false;
    if (!last) text.remove_prefix(colon + 1);
  }
  *bus = static_cast<std::uint16_t>(fields[0]);
  *vendor = static_cast<std::uint16_t>(fields[1]);
  *product = static_cast<std::uint16_t>(fields[2]);
  return true;
}

std::vector<HidDeviceInfo> listHidDevices(const std::string& sysfsRoot,
                                          const std::string& devRoot) {
  std::vector<HidDeviceInfo> devices;
  const fs::path folder = fs::path(sysfsRoot) / "bus/hid/devices";
  for (const std::string& name : childrenNamed(folder, "")) {
    if (auto info = readDevice(folder / name, devRoot)) devices.push_back(std::move(*info));
  }
  return devices;
}

std::optional<HidDeviceInfo> waitForHidDevice(const HidDeviceMatch& match,
                                              std::chrono::milliseconds bound,
                                              const std::string& sysfsRoot,
                                              const std::string& devRoot) {
  std::optional<HidDeviceInfo> found;
  waitUntil(
      [&] {
        for (auto& info : listHidDevices(sysfsRoot, devRoot)) {
          if (match(info) && !info.driver.empty() && nodesExist(info)) {
            found = std::move(info);
            return true;
          }
        }
        return false;
      },
      bound);
  return found;
}

bool waitForHidDeviceGone(const HidDeviceMatch& match, std::chrono::milliseconds bound,
                          const std::string& sysfsRoot) {
  return waitUntil(
      [&] {
        const auto devices = listHidDevices(sysfsRoot);
        return std::none_of(devices.begin(), devices.end(), match);
      },
      bound);
}

HidDeviceMatch matchHidDevice(std::uint16_t vendor, std::uint16_t product, std::string uniq) {
  return [vendor, product, uniq = std::move(uniq)](const HidDeviceInfo& info) {
    return info.vendor == vendor && info.product == product && info.uniq == uniq;
  };
}

std::set<std::string> inputNodesNamed(const std::string& name, const std::string& sysfsRoot,
                                      const std::string& devRoot) {
  std::set<std::string> nodes;
  std::error_code error;
  for (fs::directory_iterator it(sysfsRoot + "/class/input", error), end; !error && it != end;
       it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (!entry.starts_with("event")) continue;
    std::ifstream in(it->path() / "device" / "name");
    std::string text;
    if (std::getline(in, text) && text == name) nodes.insert(devRoot + "/input/" + entry);
  }
  return nodes;
}

}  // namespace zv::vmtest
