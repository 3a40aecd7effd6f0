#include "Latency.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zv::vmtest {
namespace {

std::chrono::nanoseconds nearestRank(const std::vector<std::chrono::nanoseconds>& sorted,
                                     double percentile) {
  const auto rank = static_cast<std::size_t>(std::ceil(percentile / 100.0 * sorted.size()));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

LatencySummary summarize(std::vector<std::chrono::nanoseconds> samples) {
  LatencySummary summary;
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  summary.count = samples.size();
  summary.p50 = nearestRank(samples, 50);
  summary.p99 = nearestRank(samples, 99);
  summary.max = samples.back();
  return summary;
}

std::string metricLine(const std::string& name, const LatencySummary& summary) {
  auto micro = [](std::chrono::nanoseconds value) { return value.count() / 1000.0; };
  char text[256];
  std::snprintf(text, sizeof text, "METRIC %s n=%zu p50_us=%.1f p99_us=%.1f max_us=%.1f",
                name.c_str(), summary.count, micro(summary.p50), micro(summary.p99),
                micro(summary.max));
  return text;
}

}  // namespace zv::vmtest
