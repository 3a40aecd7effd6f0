#include "core/DriverClock.h"

namespace zv::driver {
namespace {

class SteadyClock : public DriverClock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline, const Predicate& ready) override {
    if (deadline == kNever) {
      cv.wait(lock, ready);
      return true;
    }
    return cv.wait_until(lock, deadline, ready);
  }
  void notifyAll(std::condition_variable& cv) override { cv.notify_all(); }
};

}  // namespace

DriverClock& DriverClock::steady() {
  static SteadyClock clock;
  return clock;
}

ManualDriverClock::ManualDriverClock(TimePoint start) : now_(start) {}

ManualDriverClock::~ManualDriverClock() = default;

DriverClock::TimePoint ManualDriverClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualDriverClock::wakeLocked(std::multimap<TimePoint, Waiter*>::iterator waiter) {
  waiter->second->woken = true;
  waiters_.erase(waiter);
}

void ManualDriverClock::advance(Duration by) {
  std::lock_guard lock(mutex_);
  if (by > Duration::zero()) now_ += by;
  bool any = false;
  while (!waiters_.empty() && waiters_.begin()->first <= now_) {
    wakeLocked(waiters_.begin());
    any = true;
  }
  if (any) {
    wake_.notify_all();
    changed_.notify_all();
  }
}

std::size_t ManualDriverClock::waiting() const {
  std::lock_guard lock(mutex_);
  return waiters_.size();
}

bool ManualDriverClock::waitForWaiters(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return waiters_.size() >= count; });
}

bool ManualDriverClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                                  TimePoint deadline, const Predicate& ready) {
  // Lock order: the caller's lock, then this clock's; the caller's lock is never taken
  // while this clock's is held.
  for (;;) {
    if (ready()) return true;
    std::unique_lock own(mutex_);
    if (now_ >= deadline) return false;
    Waiter waiter{&cv};
    waiters_.emplace(deadline, &waiter);
    changed_.notify_all();
    // A notifier changes what ready() reads under the caller's lock and notifies after:
    // this wait is registered before that lock is let go, so it cannot miss the call.
    lock.unlock();
    wake_.wait(own, [&] { return waiter.woken; });
    own.unlock();
    lock.lock();
  }
}

void ManualDriverClock::notifyAll(std::condition_variable& cv) {
  std::lock_guard lock(mutex_);
  bool any = false;
  for (auto it = waiters_.begin(); it != waiters_.end();) {
    if (it->second->on == &cv) {
      const auto next = std::next(it);
      wakeLocked(it);
      it = next;
      any = true;
    } else {
      ++it;
    }
  }
  if (any) {
    wake_.notify_all();
    changed_.notify_all();
  }
}

}  // namespace zv::driver
