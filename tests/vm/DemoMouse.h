// The physical mouse the guest plays: the demo device of the suite (vendor 0x5A56, product
// 0x1704, device type 1) with type 1's report descriptor. No in-kernel HID driver claims
// that vendor, so hid-generic binds it like any plain USB mouse.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "UhidDevice.h"
#include "UsbGadgetMouse.h"

namespace zv::vmtest {

inline constexpr std::uint16_t kDemoVendor = 0x5A56;
inline constexpr std::uint16_t kDemoProduct = 0x1704;
inline constexpr int kDemoDeviceType = 1;

// HID_UNIQ of the two physical mice the guest plays: through uhid, and on a USB bus.
inline constexpr const char* kUhidMouseUniq = "vmtest-physical";
inline constexpr const char* kUsbMouseUniq = "vmtest-usb";

// What one report of the mouse says. Buttons: bit n-1 is button n.
struct MouseInput {
  std::uint16_t buttons = 0;
  std::int16_t dx = 0;
  std::int16_t dy = 0;
  std::int8_t wheel = 0;
};

// Type 1's input report: no report ID; the 16 button bits, X and Y little-endian, the wheel.
inline constexpr std::size_t kDemoReportLength = 7;
std::array<std::uint8_t, kDemoReportLength> demoMouseReport(const MouseInput& input);

// The device as plugged in, told apart from others with the same IDs by `uniq`. A
// non-negative `descriptorType` presents another device type's descriptor instead of type
// 1's (a deliberately wrong one).
UhidDevice::Setup demoMouseSetup(const std::string& uniq, int descriptorType = kDemoDeviceType);

// The same mouse as a USB gadget; `serial` becomes the host side's HID_UNIQ.
UsbGadgetMouse::Setup usbDemoMouseSetup(const std::string& serial,
                                        int descriptorType = kDemoDeviceType);

}  // namespace zv::vmtest
