// Finds the HID devices the kernel knows and the nodes it made for each (hidraw, evdev),
// from sysfs alone: the guest runs no udev.
//
//   /sys/bus/hid/devices/0003:5A56:1704.0001/      uevent: DRIVER=, HID_ID=, HID_NAME=, HID_UNIQ=
//     hidraw/hidraw0                             -> /dev/hidraw0
//     input/input5/event2                        -> /dev/input/event2
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zv::vmtest {

struct HidDeviceInfo {
  std::string sysfsPath;  // the device's folder, links resolved
  std::string driver;     // empty while no driver is bound
  std::string name;
  std::string uniq;
  std::uint16_t bus = 0;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  bool underUhid = false;           // created through /dev/uhid
  std::vector<std::string> hidraw;  // device nodes, sorted
  std::vector<std::string> evdev;   // device nodes, sorted
};

// Reads "0003:00005A56:00001704" (bus, vendor, product in hex); false for anything else.
bool parseHidId(std::string_view text, std::uint16_t* bus, std::uint16_t* vendor,
                std::uint16_t* product);

// Every HID device under `sysfsRoot`/bus/hid/devices, with node paths under `devRoot`.
// Devices that vanish while being read are left out.
std::vector<HidDeviceInfo> listHidDevices(const std::string& sysfsRoot = "/sys",
                                          const std::string& devRoot = "/dev");

using HidDeviceMatch = std::function<bool(const HidDeviceInfo&)>;

// The matching device once it is bound to a driver, has a hidraw node and at least one
// evdev node, and those nodes exist under `devRoot`; nullopt when that does not happen
// within `bound`.
std::optional<HidDeviceInfo> waitForHidDevice(const HidDeviceMatch& match,
                                              std::chrono::milliseconds bound,
                                              const std::string& sysfsRoot = "/sys",
                                              const std::string& devRoot = "/dev");

// True once no device matches; false when one still does after `bound`.
bool waitForHidDeviceGone(const HidDeviceMatch& match, std::chrono::milliseconds bound,
                          const std::string& sysfsRoot = "/sys");

// The evdev nodes (under `devRoot`) of every input device named `name`, found through
// `sysfsRoot`/class/input/eventN/device/name: how the virtual devices a program makes
// through uinput are found.
std::set<std::string> inputNodesNamed(const std::string& name,
                                      const std::string& sysfsRoot = "/sys",
                                      const std::string& devRoot = "/dev");

// A match on vendor, product and uniq.
HidDeviceMatch matchHidDevice(std::uint16_t vendor, std::uint16_t product, std::string uniq);

}  // namespace zv::vmtest
