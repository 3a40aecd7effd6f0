// What the Linux HID manager reads about a hidraw node's HID device from sysfs: the
// "HID_ID" line of its uevent ("0003:00005A56:00001704": bus, vendor, product in
// hexadecimal) and where the device sits in the device tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv::platform {

struct HidId {
  std::uint16_t bus = 0;
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
  bool operator==(const HidId&) const = default;
};

// The three fields of a "HID_ID" value; nothing unless it is three hexadecimal numbers
// separated by colons (bus up to 4 digits, vendor and product up to 8).
std::optional<HidId> parseHidId(std::string_view text);

// Whether a HID device's sysfs path lies below the virtual uhid device: a device that a
// program presents through /dev/uhid. Bluetooth LE mice arrive that way (BlueZ presents
// them), and so does the mouse our driver daemon presents.
bool isUnderUhid(std::string_view syspath);

// The mark of the mouse our driver daemon presents: its phys ("HID_PHYS") starts with
// kOurDriverPhysPrefix, followed by the real mouse's phys; its name ends with
// kOurDriverNameSuffix. It carries the real mouse's bus, vendor and product, so it is
// told apart by the mark alone: matched, it would connect the mouse to itself.
inline constexpr std::string_view kOurDriverPhysPrefix = "zenvor-driver/";
inline constexpr std::string_view kOurDriverNameSuffix = " (zenvor-driver)";
// Whether a uhid device with this phys and name is the one our daemon presents (either
// part of the mark is enough; daemons before the phys mark set only the name).
bool isPresentedByOurDriver(std::string_view phys, std::string_view name);

// The bus as a word for the "Transport" property: "USB", "Bluetooth", "I2C", "Virtual",
// else "Bus 0xNN".
std::string transportName(std::uint16_t bus);

}  // namespace zv::platform
