// Finds, from a hidraw node, the HID device behind it in sysfs: whether it is a uhid device
// (a virtual one, such as the rewritten mouse of another driver instance), its event nodes
// (to grab), its release number, and for USB the bus and address of the USB device (for
// control requests).
//
// Roots: sysfs is $KINETRA_SYSFS_ROOT (default /sys) and device nodes are under
// $KINETRA_DEV_ROOT (default /dev), so tests can build a sysfs tree of their own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zv::driver {

struct LocatedHidraw {
  std::string name;                     // the node's kernel name, "hidraw3": the device id
  std::filesystem::path hidDevice;      // the HID device's sysfs folder, resolved
  std::uint16_t bus = 0;                // from the HID device's name "BBBB:VVVV:PPPP.NNNN"
  bool virtualUhid = false;             // under <sysfs>/devices/virtual/misc/uhid
  std::vector<std::string> eventNodes;  // "<dev>/input/eventN" of its input devices
  std::uint32_t version = 0;            // release number; 0 when sysfs does not say
  bool usb = false;                     // a USB device was found above it
  unsigned usbBus = 0;
  unsigned usbAddress = 0;
};

// Nothing, with *error, when the node has no HID device in sysfs.
std::optional<LocatedHidraw> locateHidraw(const std::string& node, std::string* error);

// The seat the device belongs to (udev property ID_SEAT on it or a parent); "seat0" when
// none says.
std::string seatOfDevice(const std::filesystem::path& sysfsPath);

}  // namespace zv::driver
