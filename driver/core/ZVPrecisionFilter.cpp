#include "core/ZVPrecisionFilter.h"

namespace zv::driver {

std::int32_t ZVPrecisionFilter::FilterInput(std::int32_t value) const {
  if (percent_ == 0) return 0;
  if (percent_ < 10) return (value > 0) - (value < 0);
  const float factor = static_cast<float>(percent_) / 100.0f;
  const float product = static_cast<float>(value) * factor;
  // Converting an out-of-range float to an integer is undefined; clamp first. 2^31 is exact
  // in single precision, INT32_MAX is not.
  if (product >= 2147483648.0f) return INT32_MAX;
  if (product <= -2147483648.0f) return INT32_MIN;
  return static_cast<std::int32_t>(product);
}

}  // namespace zv::driver
