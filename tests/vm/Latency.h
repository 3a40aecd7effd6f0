// Latency figures of the guest: median and 99th percentile of many samples, printed as
// METRIC lines that the host side collects into its table. Under software emulation they
// are emulated figures: compare them with each other, not with real hardware.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace zv::vmtest {

struct LatencySummary {
  std::size_t count = 0;
  std::chrono::nanoseconds p50{};
  std::chrono::nanoseconds p99{};
  std::chrono::nanoseconds max{};
};

// Nearest-rank percentiles; all zero for no samples.
LatencySummary summarize(std::vector<std::chrono::nanoseconds> samples);

// "METRIC <name> n=10000 p50_us=41.2 p99_us=97.0 max_us=310.4"
std::string metricLine(const std::string& name, const LatencySummary& summary);

}  // namespace zv::vmtest
