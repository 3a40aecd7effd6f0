#include "device/HIDUtilities.h"

#include <variant>

namespace zv::device {

bool IOHIDDevice_GetLongProperty(const platform::HidDevice* device, std::string_view key,
                                 std::int32_t* value) {
  std::int32_t result = 0;
  bool found = false;
  if (device) {
    const platform::HidProperty property = device->property(key);
    if (const auto* number = std::get_if<std::int64_t>(&property)) {
      result = static_cast<std::int32_t>(*number);
      found = true;
    }
  }
  if (value) *value = result;
  return found;
}

std::int32_t IOHIDDevice_GetVendorID(const platform::HidDevice* device) {
  std::int32_t value = 0;
  IOHIDDevice_GetLongProperty(device, platform::kHidVendorIDKey, &value);
  return value;
}

std::int32_t IOHIDDevice_GetProductID(const platform::HidDevice* device) {
  std::int32_t value = 0;
  IOHIDDevice_GetLongProperty(device, platform::kHidProductIDKey, &value);
  return value;
}

std::int32_t IOHIDDevice_GetPrimaryUsage(const platform::HidDevice* device) {
  std::int32_t value = 0;
  IOHIDDevice_GetLongProperty(device, platform::kHidPrimaryUsageKey, &value);
  return value;
}

}  // namespace zv::device
