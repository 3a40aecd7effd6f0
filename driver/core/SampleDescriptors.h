// Report descriptors laid out as each configured device type reports its mouse input, for
// the replay tool, the simulated device and tests. Types 2 and 3 present a replacement
// descriptor to the system, which describes the reports the device sends.
#pragma once

#include <cstdint>
#include <span>

namespace zv::driver {

// Empty for kUnknownDeviceType and out-of-range types.
//   type 0: no report IDs, 10 bytes: 16 buttons, 16-bit X and Y, 8-bit wheel and pan, 2 bytes
//           of padding;
//   type 1: no report IDs, 7 bytes: 16 buttons, 16-bit X and Y, 8-bit wheel;
//   types 4, 5: report ID 0xF1 only, 9 bytes: the ID, 16 buttons, 16-bit X and Y, 8-bit
//           wheel and pan.
std::span<const std::uint8_t> sampleDescriptorForType(int deviceType);

}  // namespace zv::driver
