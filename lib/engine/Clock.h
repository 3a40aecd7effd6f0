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
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>

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
// deadline or their condition is notified; only those threads wake, so a thousand runs
// waiting out long delays cost nothing while time moves in small steps. Tests use
// waitForWaiters() to know that the threads they drive have reached their waits before
// moving time.
class ManualClock : public Clock {
 public:
  explicit ManualClock(TimePoint start = TimePoint(std::chrono::hours(1)));
  ~ManualClock() override;

  TimePoint now() const override;
  // Moves time forward (never back) and wakes the waits whose deadline has come.
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
  // The same for any condition on the number of waiting threads: `done` is called with
  // that number, under this clock's lock (it must not call back into the clock), each
  // time it changes and at every recheckWaiters().
  bool waitForWaiters(const std::function<bool(std::size_t waiting)>& done,
                      std::chrono::milliseconds timeout) const;
  // Makes the waitForWaiters calls in progress check their condition again, for
  // conditions that read more than this clock (the number of runs still going on).
  void recheckWaiters() const;

 protected:
  bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline, const Predicate& ready) override;
  void notify(std::condition_variable& cv) override;

 private:
  struct Waiter;
  void wakeLocked(Waiter& waiter);
  void wakeDueLocked();

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;  // waitForWaiters blocks here
  TimePoint now_;
  // The waits in progress, by deadline and by the condition they wait on; each waiting
  // thread blocks on a variable of its own, so waking one wakes no other.
  std::multimap<TimePoint, Waiter*> deadlines_;
  std::unordered_map<const std::condition_variable*, std::list<Waiter*>> conditions_;
};

}  // namespace zv::engine
