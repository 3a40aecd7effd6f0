// The supported device types, their fixed configurations and the replacement report
// descriptors that types 2 and 3 present to the system instead of their own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv::driver {

inline constexpr int kDeviceTypeCount = 6;
inline constexpr int kUnknownDeviceType = 6;  // a product ID without a configuration

// One record per device type (64 bytes on a 64-bit build).
struct ZVDeviceConfig {
  std::uint32_t overriddenElements[10];  // overridden from the start; ends at the first 0
  std::uint32_t precisionElement;        // 0 = none
  std::uint32_t defaultReportID;         // the report carrying the mouse input
  std::uint32_t reportLength;            // expected input report length; 0 = any
  std::uint32_t descriptorLength;        // replacement descriptor length; 0 = the device's own
  const std::uint8_t* descriptor;        // the replacement descriptor
};

extern const ZVDeviceConfig gDeviceConfig[kDeviceTypeCount];

inline constexpr std::size_t kReplacementDescriptorType2Length = 248;
inline constexpr std::size_t kReplacementDescriptorType3Length = 275;
// Game pad (report 1), consumer controls (report 2), mouse (report 3; type 2: 12 buttons and
// 16-bit X, Y, wheel; type 3: 3 buttons and 8-bit X, Y, wheel) and two vendor reports.
extern const std::uint8_t kReplacementDescriptorType2[kReplacementDescriptorType2Length];
extern const std::uint8_t kReplacementDescriptorType3[kReplacementDescriptorType3Length];

// 0x1714 → 0, 0x1704 → 1, 0x5263 and 0x5266 → 2, 0x5262 → 3, 0x1715 → 4, 0x1710 → 5,
// anything else → kUnknownDeviceType.
int GetDeviceTypeFromDevice(std::uint16_t productID);

// The record of a device type, or nullptr for kUnknownDeviceType and out-of-range types.
const ZVDeviceConfig* GetDeviceConfiguration(int deviceType);

}  // namespace zv::driver
