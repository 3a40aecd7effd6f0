#include "linux/DeviceLocator.h"

#include <libudev.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace zv::driver {
namespace fs = std::filesystem;

namespace {

fs::path root(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? fs::path(value) : fs::path(fallback);
}

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool isUnder(const fs::path& path, const fs::path& folder) {
  const std::string p = path.lexically_normal().string();
  const std::string f = folder.lexically_normal().string();
  return p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/';
}

}  // namespace

std::optional<LocatedHidraw> locateHidraw(const std::string& node, std::string* error) {
  const fs::path sysfs = root("KINETRA_SYSFS_ROOT", "/sys");
  const fs::path dev = root("KINETRA_DEV_ROOT", "/dev");
  std::error_code ec;
  fs::path resolvedNode = fs::canonical(node, ec);
  if (ec) resolvedNode = node;
  LocatedHidraw located;
  located.name = resolvedNode.filename().string();
  if (located.name.rfind("hidraw", 0) != 0) {
    *error = node + " is not a hidraw node (expected /dev/hidrawN)";
    return std::nullopt;
  }
  const fs::path link = sysfs / "class" / "hidraw" / located.name / "device";
  located.hidDevice = fs::canonical(link, ec);
  if (ec) {
    *error =
        "no HID device for " + node + " in sysfs (" + link.string() + ": " + ec.message() + ")";
    return std::nullopt;
  }
  const fs::path sysfsRoot = fs::canonical(sysfs, ec);
  located.virtualUhid = isUnder(located.hidDevice,
                                (ec ? sysfs : sysfsRoot) / "devices" / "virtual" / "misc" / "uhid");

  // "0003:5A56:1704.0001": bus, vendor, product, instance.
  const std::string hidName = located.hidDevice.filename().string();
  located.bus = static_cast<std::uint16_t>(std::strtoul(hidName.substr(0, 4).c_str(), nullptr, 16));

  const fs::path inputs = located.hidDevice / "input";
  if (fs::is_directory(inputs, ec)) {
    for (const auto& input : fs::directory_iterator(inputs, ec)) {
      if (located.version == 0) {
        located.version = static_cast<std::uint32_t>(
            std::strtoul(firstLine(input.path() / "id" / "version").c_str(), nullptr, 16));
      }
      for (const auto& entry : fs::directory_iterator(input.path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("event", 0) == 0) {
          located.eventNodes.push_back((dev / "input" / name).string());
        }
      }
    }
    std::sort(located.eventNodes.begin(), located.eventNodes.end());
  }

  if (located.bus == 0x03 && !located.virtualUhid) {
    for (fs::path p = located.hidDevice.parent_path(); isUnder(p, sysfsRoot); p = p.parent_path()) {
      if (fs::exists(p / "busnum", ec) && fs::exists(p / "devnum", ec)) {
        located.usb = true;
        located.usbBus =
            static_cast<unsigned>(std::strtoul(firstLine(p / "busnum").c_str(), nullptr, 10));
        located.usbAddress =
            static_cast<unsigned>(std::strtoul(firstLine(p / "devnum").c_str(), nullptr, 10));
        if (located.version == 0) {
          located.version = static_cast<std::uint32_t>(
              std::strtoul(firstLine(p / "bcdDevice").c_str(), nullptr, 16));
        }
        break;
      }
    }
  }
  return located;
}

std::string seatOfDevice(const fs::path& sysfsPath) {
  std::string seat = "seat0";
  udev* context = udev_new();
  if (!context) return seat;
  udev_device* device = udev_device_new_from_syspath(context, sysfsPath.c_str());
  for (udev_device* d = device; d; d = udev_device_get_parent(d)) {
    if (const char* value = udev_device_get_property_value(d, "ID_SEAT")) {
      if (*value) seat = value;
      break;
    }
  }
  if (device) udev_device_unref(device);
  udev_unref(context);
  return seat;
}

}  // namespace zv::driver
