// Latencies counted into fixed buckets, so that a day of presses at 1 kHz takes no more
// memory than the first minute: 1 µs buckets up to kLimit, one bucket beyond it.
// Percentiles are read to the microsecond.
//
// Threads: not synchronised; the owner locks.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace zv::agent {

class LatencyHistogram {
 public:
  static constexpr std::chrono::microseconds kLimit{20'000};

  void add(std::chrono::nanoseconds latency);
  std::uint64_t count() const { return count_; }
  // The smallest latency that `fraction` (0 to 1) of the samples do not exceed; zero
  // without samples, kLimit for samples beyond it.
  std::chrono::microseconds percentile(double fraction) const;

 private:
  std::array<std::uint64_t, kLimit.count() + 1> buckets_{};
  std::uint64_t count_ = 0;
};

}  // namespace zv::agent
