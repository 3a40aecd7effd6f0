#include "Wait.h"

#include <thread>

namespace zv::vmtest {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    // A short pause between polls keeps the emulated CPU free for the kernel work that the
    // condition waits for.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace zv::vmtest
