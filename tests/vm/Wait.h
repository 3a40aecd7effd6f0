// Waiting for something the kernel does asynchronously (a device node appearing, a driver
// binding) without a fixed sleep: the condition is polled often and the bound is only a
// safety net, generous because the guest runs under software emulation.
#pragma once

#include <chrono>
#include <functional>

namespace zv::vmtest {

// True as soon as `condition` holds; false when it still does not after `bound`.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound);

// Milliseconds left until `deadline`, never negative; for poll(2) timeouts.
int millisecondsUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace zv::vmtest
