// The three device properties that device matching reads: vendor, product and primary
// usage, each as a 32-bit integer.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/HidManager.h"

namespace zv::device {

// Reads a number property into `value`. A missing device, an absent property or one that
// is not a number leaves `value` at 0 and answers false; otherwise the number is cut to
// 32 bits.
bool IOHIDDevice_GetLongProperty(const platform::HidDevice* device, std::string_view key,
                                 std::int32_t* value);

// 0 when the device lacks the property (see above).
std::int32_t IOHIDDevice_GetVendorID(const platform::HidDevice* device);
std::int32_t IOHIDDevice_GetProductID(const platform::HidDevice* device);
std::int32_t IOHIDDevice_GetPrimaryUsage(const platform::HidDevice* device);

}  // namespace zv::device
