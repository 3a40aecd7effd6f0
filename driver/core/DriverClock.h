// Time for the driver's own threads (the mouse reporter's steps). Every timed wait goes
// through a DriverClock, so tests drive the reporter thread with a ManualDriverClock instead of
// sleeping and counting what happened meanwhile. The driver links no library, so this is
// its own small clock, not the device library's.
//
// A wait is a wait on a condition variable under the caller's lock: it ends when its
// predicate holds (checked under that lock after every wake-up) or when the clock reaches
// the deadline. Whoever changes what a predicate reads does so under the caller's lock
// and then calls notifyAll() on the same condition variable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace zv::driver {

class DriverClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;
  using Predicate = std::function<bool()>;
  // A deadline that never comes: the wait ends only when its predicate holds.
  static constexpr TimePoint kNever = TimePoint::max();

  virtual ~DriverClock() = default;
  virtual TimePoint now() const = 0;

  // With `lock` held: blocks until ready() holds or the clock reaches `deadline`; `lock`
  // is released while blocked and held again on return. Answers ready().
  virtual bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         TimePoint deadline, const Predicate& ready) = 0;
  // Wakes every wait on `cv`.
  virtual void notifyAll(std::condition_variable& cv) = 0;

  // The real clock (std::chrono::steady_clock); lives for the whole process.
  static DriverClock& steady();
};

// A clock that moves only when told. Tests use waitForWaiters() to know that the thread
// they drive has reached its wait before they move time, so every step is exact.
// Thread-safe.
class ManualDriverClock : public DriverClock {
 public:
  explicit ManualDriverClock(TimePoint start = TimePoint(std::chrono::hours(1)));
  ~ManualDriverClock() override;

  TimePoint now() const override;
  // Moves time forward (a negative span does nothing) and wakes the waits whose deadline
  // has come.
  void advance(Duration by);
  // Threads blocked in a wait on this clock now, timed or not. A woken thread counts
  // again only once it waits again.
  std::size_t waiting() const;
  // Blocks, up to `timeout` of real time (a safety net, never reached by a working
  // test), until at least `count` threads wait; answers whether they do.
  bool waitForWaiters(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline, const Predicate& ready) override;
  void notifyAll(std::condition_variable& cv) override;

 private:
  struct Waiter {
    const std::condition_variable* on;
    bool woken = false;
  };
  void wakeLocked(std::multimap<TimePoint, Waiter*>::iterator waiter);

  mutable std::mutex mutex_;
  std::condition_variable wake_;             // blocked waits sleep here
  mutable std::condition_variable changed_;  // waitForWaiters sleeps here
  TimePoint now_;
  std::multimap<TimePoint, Waiter*> waiters_;  // by deadline
};

}  // namespace zv::driver
