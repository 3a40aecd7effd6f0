// hidraw nodes laid out in a sysfs tree as the kernel does, for the code that reads them
// (platform/HidrawNodes.h): <root>/class/hidraw/hidrawN links to the node's folder below
// its HID device, whose "uevent" and "report_descriptor" say what the device is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zv::testing {

// Adds hidraw node `node` ("hidraw3") of the HID device `hidId` ("0003:0000046D:0000C52B",
// its HID_ID) named `name` to the tree at `root` (usually the KINETRA_SYSFS_ROOT of a
// TemporaryTree). `uhid`: below the virtual uhid device (Bluetooth LE through BlueZ, or
// our daemon's), with HID_PHYS `phys`.
void addFakeHidrawNode(const std::filesystem::path& root, const std::string& node,
                       const std::string& hidId, const std::string& name,
                       const std::vector<std::uint8_t>& descriptor, bool uhid = false,
                       const std::string& phys = "");

}  // namespace zv::testing
