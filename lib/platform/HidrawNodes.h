// The hidraw nodes of the system as sysfs shows them, read without udev so that a tool
// can list them from any process and tests can lay out a tree of their own:
//
//   <sysfs root>/class/hidraw/hidrawN/device   → the node's HID device, holding
//     uevent              HID_ID=0003:0000046D:0000C52B, HID_NAME=…, HID_PHYS=…
//     report_descriptor   the descriptor as the kernel read it
//
// Threads: any.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HidSysfs.h"
#include "platform/Paths.h"

namespace zv::platform {

struct HidrawNode {
  std::string name;                 // "hidraw3"
  std::string devnode;              // "/dev/hidraw3"
  std::filesystem::path hidDevice;  // the HID device's sysfs folder, links resolved
  HidId id;
  std::string product;  // HID_NAME
  std::string phys;     // HID_PHYS
  std::vector<std::uint8_t> descriptor;
  // Presented through /dev/uhid (a Bluetooth LE mouse through BlueZ, or our daemon's).
  bool underUhid = false;
  // The rewritten mouse our daemon presents (HidSysfs.h): never a mouse to serve.
  bool presentedByOurDriver() const { return underUhid && isPresentedByOurDriver(phys, product); }
};

// Every hidraw node whose HID device has readable identifiers, in the order of their
// numbers (hidraw2 before hidraw10). Nodes without a HID device or a valid HID_ID are
// left out; a missing descriptor reads as empty.
std::vector<HidrawNode> listHidrawNodes(const std::filesystem::path& root = sysfsRoot());

// The report descriptor of a HID device's sysfs folder, at most 4096 bytes (the largest
// the kernel keeps); empty when it cannot be read.
std::vector<std::uint8_t> readReportDescriptor(const std::filesystem::path& hidDevice);

// The value of KEY in uevent text ("KEY=VALUE" lines); empty when absent.
std::string ueventValue(std::string_view uevent, std::string_view key);

}  // namespace zv::platform
