#include "engine/Clock.h"

namespace zv::engine {
namespace {

class SteadyClock : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }

 protected:
  bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline, const Predicate& ready) override {
    return cv.wait_until(lock, deadline, ready);
  }
  void notify(std::condition_variable& cv) override { cv.notify_all(); }
};

}  // namespace

Clock& Clock::steady() {
  static SteadyClock clock;
  return clock;
}

void sleepFor(Clock& clock, Clock::Duration time) {
  std::mutex mutex;
  Condition condition(clock);
  std::unique_lock lock(mutex);
  condition.sleepFor(lock, time);
}

ManualClock::ManualClock(TimePoint start) : now_(start) {}

Clock::TimePoint ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualClock::wakeAllLocked() {
  // Every woken wait re-registers if it waits again, so the set holds only waits that
  // are really blocked.
  ++epoch_;
  deadlines_.clear();
  wake_.notify_all();
  changed_.notify_all();
}

void ManualClock::advance(Duration by) {
  std::lock_guard lock(mutex_);
  if (by > Duration::zero()) now_ += by;
  wakeAllLocked();
}

void ManualClock::advanceTo(TimePoint when) {
  std::lock_guard lock(mutex_);
  if (when > now_) now_ = when;
  wakeAllLocked();
}

std::optional<Clock::TimePoint> ManualClock::nextDeadline() const {
  std::lock_guard lock(mutex_);
  if (deadlines_.empty()) return std::nullopt;
  return *deadlines_.begin();
}

bool ManualClock::advanceToNextDeadline() {
  std::lock_guard lock(mutex_);
  if (deadlines_.empty()) return false;
  const TimePoint next = *deadlines_.begin();
  if (next > now_) now_ = next;
  wakeAllLocked();
  return true;
}

std::size_t ManualClock::waiting() const {
  std::lock_guard lock(mutex_);
  return deadlines_.size();
}

bool ManualClock::waitForWaiters(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return deadlines_.size() >= count; });
}

bool ManualClock::waitUntil(std::condition_variable&, std::unique_lock<std::mutex>& lock,
                            TimePoint deadline, const Predicate& ready) {
  // Lock order: the caller's lock, then this clock's. The caller's lock is never taken
  // while this clock's is held, so notifications from threads holding their own lock
  // cannot deadlock with a waiter.
  for (;;) {
    if (ready()) return true;
    std::unique_lock own(mutex_);
    if (now_ >= deadline) return false;
    const std::uint64_t epoch = epoch_;
    deadlines_.insert(deadline);
    changed_.notify_all();
    // Whoever changes what ready() reads holds the caller's lock, and notifies after: the
    // epoch read above, under the caller's lock, cannot miss that notification.
    lock.unlock();
    wake_.wait(own, [&] { return epoch_ != epoch; });
    own.unlock();
    lock.lock();
  }
}

void ManualClock::notify(std::condition_variable&) {
  std::lock_guard lock(mutex_);
  wakeAllLocked();
}

}  // namespace zv::engine
