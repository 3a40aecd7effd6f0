#include "LatencyHistogram.h"

#include <algorithm>
#include <cmath>

namespace zv::agent {

void LatencyHistogram::add(std::chrono::nanoseconds latency) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(latency).count();
  const auto bucket = static_cast<std::size_t>(std::clamp<long long>(micros, 0, kLimit.count()));
  ++buckets_[bucket];
  ++count_;
}

std::chrono::microseconds LatencyHistogram::percentile(double fraction) const {
  if (count_ == 0) return std::chrono::microseconds(0);
  const double wanted = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(count_);
  const auto rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(wanted)));
  std::uint64_t seen = 0;
  for (std::size_t bucket = 0; bucket < buckets_.size(); ++bucket) {
    seen += buckets_[bucket];
    if (seen >= rank) return std::chrono::microseconds(bucket);
  }
  return kLimit;
}

}  // namespace zv::agent
