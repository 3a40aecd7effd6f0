// HID numbers that the device library, the driver daemon and the tools share. Header-only:
// every deliverable compiles it, none links another for it.
//
// An element identifier is the HID usage page in the upper 16 bits and the usage in the
// lower 16: button n is page 9, usage n; the X, Y and Z axes are 0x10030, 0x10031 and
// 0x10032; the hat switch is 0x10039. The driver, the library and the profiles use the same
// numbering.
#pragma once

#include <cstdint>

namespace zv::hid {

// Usage pages.
inline constexpr std::uint16_t kGenericDesktopPage = 0x01;
inline constexpr std::uint16_t kSimulationPage = 0x02;
inline constexpr std::uint16_t kGameControlsPage = 0x05;
inline constexpr std::uint16_t kKeyboardPage = 0x07;
inline constexpr std::uint16_t kLEDPage = 0x08;
inline constexpr std::uint16_t kButtonPage = 0x09;
inline constexpr std::uint16_t kConsumerPage = 0x0C;

// Generic-desktop usages.
inline constexpr std::uint16_t kPointerUsage = 0x01;
inline constexpr std::uint16_t kMouseUsage = 0x02;
inline constexpr std::uint16_t kKeyboardUsage = 0x06;
inline constexpr std::uint16_t kXUsage = 0x30;
inline constexpr std::uint16_t kYUsage = 0x31;
inline constexpr std::uint16_t kZUsage = 0x32;
inline constexpr std::uint16_t kWheelUsage = 0x38;
inline constexpr std::uint16_t kHatSwitchUsage = 0x39;

// Element identifier packing.
constexpr std::uint32_t element(std::uint16_t page, std::uint16_t usage) {
  return static_cast<std::uint32_t>(page) << 16 | usage;
}
constexpr std::uint16_t elementPage(std::uint32_t element) {
  return static_cast<std::uint16_t>(element >> 16);
}
constexpr std::uint16_t elementUsage(std::uint32_t element) {
  return static_cast<std::uint16_t>(element & 0xFFFF);
}

inline constexpr std::uint32_t kXAxisElement = element(kGenericDesktopPage, kXUsage);
inline constexpr std::uint32_t kYAxisElement = element(kGenericDesktopPage, kYUsage);
inline constexpr std::uint32_t kZAxisElement = element(kGenericDesktopPage, kZUsage);
inline constexpr std::uint32_t kHatSwitchElement = element(kGenericDesktopPage, kHatSwitchUsage);

// Button n (1-based) of the button page.
constexpr std::uint32_t buttonElement(std::uint16_t n) {
  return element(kButtonPage, n);
}
constexpr bool isButtonElement(std::uint32_t element) {
  return elementPage(element) == kButtonPage;
}

static_assert(kXAxisElement == 0x10030 && kHatSwitchElement == 0x10039);
static_assert(buttonElement(4) == 0x90004);

}  // namespace zv::hid
