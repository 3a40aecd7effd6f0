// Waiting for a condition that costs more to check than a look at sysfs (a file read
// whole, a walk over /proc): polled every few tens of milliseconds so that the emulated
// CPU stays free for the work being waited for. The bound is only a safety net.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace zv::vmtest {

// True as soon as `condition` holds; false when it still does not after `bound`.
inline bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound,
                      std::chrono::milliseconds every = std::chrono::milliseconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(every);
  }
}

}  // namespace zv::vmtest
