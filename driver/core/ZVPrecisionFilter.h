// Scales one pointer axis while the precision-aim button is held: the pointer slows to a
// percentage of its speed, but a slow movement never stops completely.
#pragma once

#include <cstdint>

namespace zv::driver {

class ZVPrecisionFilter {
 public:
  void SetPercent(std::int32_t percent) { percent_ = percent; }
  std::int32_t percent() const { return percent_; }

  // percent 0: 0. percent 1 to 9, or negative: the sign of the input (-1, 0 or 1), so that a
  // movement still moves by one unit. 10 or more: input * (percent / 100), in single
  // precision (the factor first, then the product) and truncated toward zero; results beyond
  // the 32-bit range saturate.
  std::int32_t FilterInput(std::int32_t value) const;

  // The filter keeps no state between inputs; present so callers can reset it symmetrically
  // with SetPercent.
  void Reset() {}

 private:
  std::int32_t percent_ = 50;
};

}  // namespace zv::driver
