#include "core/ZVMouseReporter.h"

namespace zv::driver {

ZVMouseReporter::ZVMouseReporter(Dispatch dispatch, Mode mode, std::chrono::milliseconds step,
                                 DriverClock& clock)
    : dispatch_(std::move(dispatch)), mode_(mode), step_(step), clock_(clock) {
  if (mode_ == Mode::thread) thread_ = std::thread([this] { run(); });
}

ZVMouseReporter::~ZVMouseReporter() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }
  clock_.notifyAll(wake_);
  thread_.join();
}

std::uint64_t ZVMouseReporter::pack(std::int16_t x, std::int16_t y, std::uint16_t buttons) {
  return static_cast<std::uint64_t>(static_cast<std::uint16_t>(x)) |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(y)) << 16 |
         static_cast<std::uint64_t>(buttons) << 32;
}

void ZVMouseReporter::dispatchMotion(std::uint64_t motion) const {
  if (!dispatch_) return;
  dispatch_(static_cast<std::int16_t>(motion & 0xFFFF), static_cast<std::int16_t>(motion >> 16),
            static_cast<std::uint32_t>((motion >> 32) & 0xFFFF));
}

void ZVMouseReporter::SetXYAxis(std::int16_t x, std::int16_t y, std::uint16_t buttons) {
  const std::uint64_t motion = pack(x, y, buttons);
  if (mode_ == Mode::manual) {
    motion_.store(motion, std::memory_order_relaxed);
    if (!stepping_ && moving(motion)) {
      stepping_ = true;
      dispatchMotion(motion);
      nextStep_ = now_ + step_;
    }
    return;
  }
  // Lost-wake-up-free without locking on every report: the thread sets waiting_ and then
  // reads motion_; we store motion_ and then read waiting_ (all sequentially consistent).
  // Either the thread sees the new motion before it sleeps, or we see that it waits and
  // notify it under the mutex, which it holds until it is actually asleep. A report without
  // motion needs no wake-up: the thread would find nothing to do.
  motion_.store(motion);
  if (moving(motion) && waiting_.load()) {
    std::lock_guard<std::mutex> lock(mutex_);
    clock_.notifyAll(wake_);
  }
}

void ZVMouseReporter::advance(std::chrono::milliseconds elapsed) {
  if (mode_ != Mode::manual || elapsed.count() <= 0) return;
  const std::chrono::milliseconds end = now_ + elapsed;
  while (stepping_ && nextStep_ < end) {
    now_ = nextStep_;
    const std::uint64_t motion = motion_.load(std::memory_order_relaxed);
    if (!moving(motion)) {
      stepping_ = false;
      break;
    }
    dispatchMotion(motion);
    nextStep_ += step_;
  }
  now_ = end;
}

void ZVMouseReporter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (running_) {
    waiting_.store(true);
    clock_.waitUntil(wake_, lock, DriverClock::kNever,
                     [this] { return !running_ || moving(motion_.load()); });
    waiting_.store(false);
    // Step while deflected; the timed wait returns early only when destruction asks.
    for (std::uint64_t motion = motion_.load(); running_ && moving(motion);
         motion = motion_.load()) {
      dispatchMotion(motion);
      clock_.waitUntil(wake_, lock, clock_.now() + step_, [this] { return !running_; });
    }
  }
}

}  // namespace zv::driver
