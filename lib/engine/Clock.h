// Time for the engine's waits: action delays, the hold before a command repeats and the
// pause between repetitions. Every wait goes through a Clock, so tests run a 0.5 s hold
// without sleeping and without timing bounds: they drive a ManualClock.
//
// A wait is always a wait on a Condition: it ends when its predicate holds (checked under
// the caller's lock after each wake-up) or when the clock reaches the deadline. A plain
// delay is a wait whose predicate never holds.
//
//   std::mutex mutex;
//   Condition stopped(clock);
//   std::unique_lock lock(mutex);
//   stopped.waitFor(lock, 500ms, [&] { return status != kCommandStarted; });
//   ...elsewhere, with `mutex` held: status = kCommandStopped; stopped.notifyAll();
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>

namespace zv::engine {

class Condition;

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;
  using Predicate = std::function<bool()>;

  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;

  // The real clock (std::chrono::steady_clock).
  static Clock& steady();

 protected:
  friend class Condition;
  // Blocks until ready() or the deadline; `lock` is held on entry and on return and is
  // released while blocked. `cv` is the condition's own variable. Answers ready().
  virtual bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         TimePoint deadline, const Predicate& ready) = 0;
  // Wakes the waits on `cv`.
  virtual void notify(std::condition_variable& cv) = 0;
};

// A condition variable whose timed waits run on a Clock. Any number of threads may wait
// on one condition at once.
class Condition {
 public:
  explicit Condition(Clock& clock = Clock::steady()) : clock_(&clock) {}
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  Clock& clock() const { return *clock_; }

  // With `lock` held: waits until ready() holds or `deadline` passes; answers ready().
  bool waitUntil(std::unique_lock<std::mutex>& lock, Clock::TimePoint deadline,
                 const Clock::Predicate& ready) {
    return clock_->waitUntil(cv_, lock, deadline, ready);
  }
  bool waitFor(std::unique_lock<std::mutex>& lock, Clock::Duration timeout,
               const Clock::Predicate& ready) {
    return waitUntil(lock, clock_->now() + timeout, ready);
  }
  // Waits out the whole time: nothing but the clock ends it.
  void sleepFor(std::unique_lock<std::mutex>& lock, Clock::Duration time) {
    waitFor(lock, time, [] { return false; });
  }
  // Wakes every wait; call it after changing, under the waiters' lock, what their
  // predicates read.
  void notifyAll() { clock_->notify(cv_); }

 private:
  Clock* clock_;
  std::condition_variable cv_;
};

// Sleeps `time` on `clock` (a manual clock's time, a steady clock's real time).
void sleepFor(Clock& clock, Clock::Duration time);

// A clock that moves only when told. Waiting threads block until advance() passes their
// deadline or their condition is notified. Tests use waitForWaiters() to know that the
// threads they drive have reached their waits before moving time.
class ManualClock : public Clock {
 public:
  explicit ManualClock(TimePoint start = TimePoint(std::chrono::hours(1)));

  TimePoint now() const override;
  // Moves time forward (never back) and wakes every wait so it checks its deadline.
  void advance(Duration by);
  void advanceTo(TimePoint when);
  // The earliest deadline among the waits in progress.
  std::optional<TimePoint> nextDeadline() const;
  // Moves to the next deadline; false when nobody waits.
  bool advanceToNextDeadline();
  // Threads blocked in a wait now. A thread woken by advance() or a notification counts
  // again only once it waits again; one that goes on without waiting is not seen here, so
  // a test waits for what that thread does before it moves time again.
  std::size_t waiting() const;
  // Blocks, up to `timeout` of real time, until at least `count` threads wait; answers
  // whether they do.
  bool waitForWaiters(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 protected:
  bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline, const Predicate& ready) override;
  void notify(std::condition_variable& cv) override;

 private:
  void wakeAllLocked();

  mutable std::mutex mutex_;
  std::condition_variable wake_;             // waiting threads block here
  mutable std::condition_variable changed_;  // waitForWaiters blocks here
  TimePoint now_;
  std::uint64_t epoch_ = 0;             // changes at every advance and notification
  std::multiset<TimePoint> deadlines_;  // of the waits in progress
};

}  // namespace zv::engine
