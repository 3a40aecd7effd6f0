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

struct ManualClock::Waiter {
  std::condition_variable wake;
  bool woken = false;
  const std::condition_variable* condition = nullptr;
  std::multimap<TimePoint, Waiter*>::iterator byDeadline;
  std::list<Waiter*>::iterator byCondition;
};

ManualClock::ManualClock(TimePoint start) : now_(start) {}

ManualClock::~ManualClock() = default;

Clock::TimePoint ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualClock::wakeLocked(Waiter& waiter) {
  // Taken out of both indexes at once: the set holds only waits that are really blocked.
  deadlines_.erase(waiter.byDeadline);
  const auto list = conditions_.find(waiter.condition);
  list->second.erase(waiter.byCondition);
  if (list->second.empty()) conditions_.erase(list);
  waiter.woken = true;
  waiter.wake.notify_one();
}

void ManualClock::wakeDueLocked() {
  bool woke = false;
  while (!deadlines_.empty() && deadlines_.begin()->first <= now_) {
    wakeLocked(*deadlines_.begin()->second);
    woke = true;
  }
  if (woke) changed_.notify_all();
}

void ManualClock::advance(Duration by) {
  std::lock_guard lock(mutex_);
  if (by > Duration::zero()) now_ += by;
  wakeDueLocked();
}

void ManualClock::advanceTo(TimePoint when) {
  std::lock_guard lock(mutex_);
  if (when > now_) now_ = when;
  wakeDueLocked();
}

std::optional<Clock::TimePoint> ManualClock::nextDeadline() const {
  std::lock_guard lock(mutex_);
  if (deadlines_.empty()) return std::nullopt;
  return deadlines_.begin()->first;
}

bool ManualClock::advanceToNextDeadline() {
  std::lock_guard lock(mutex_);
  if (deadlines_.empty()) return false;
  const TimePoint next = deadlines_.begin()->first;
  if (next > now_) now_ = next;
  wakeDueLocked();
  return true;
}

std::size_t ManualClock::waiting() const {
  std::lock_guard lock(mutex_);
  return deadlines_.size();
}

bool ManualClock::waitForWaiters(std::size_t count, std::chrono::milliseconds timeout) const {
  return waitForWaiters([count](std::size_t waiting) { return waiting >= count; }, timeout);
}

bool ManualClock::waitForWaiters(const std::function<bool(std::size_t waiting)>& done,
                                 std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(deadlines_.size()); });
}

void ManualClock::recheckWaiters() const {
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

bool ManualClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                            TimePoint deadline, const Predicate& ready) {
  // Lock order: the caller's lock, then this clock's. The caller's lock is never taken
  // while this clock's is held, so notifications from threads holding their own lock
  // cannot deadlock with a waiter.
  for (;;) {
    if (ready()) return true;
    std::unique_lock own(mutex_);
    if (now_ >= deadline) return false;
    Waiter waiter;
    waiter.condition = &cv;
    // Equal deadlines wake in the order the waits began.
    waiter.byDeadline = deadlines_.emplace(deadline, &waiter);
    std::list<Waiter*>& onCondition = conditions_[&cv];
    waiter.byCondition = onCondition.insert(onCondition.end(), &waiter);
    changed_.notify_all();
    // Whoever changes what ready() reads holds the caller's lock, and notifies after: this
    // wait is registered before that lock is let go, so it cannot miss the notification.
    lock.unlock();
    waiter.wake.wait(own, [&] { return waiter.woken; });
    own.unlock();
    lock.lock();
  }
}

void ManualClock::notify(std::condition_variable& cv) {
  std::lock_guard lock(mutex_);
  bool woke = false;
  for (auto list = conditions_.find(&cv); list != conditions_.end(); list = conditions_.find(&cv)) {
    wakeLocked(*list->second.front());
    woke = true;
  }
  if (woke) changed_.notify_all();
}

}  // namespace zv::engine
