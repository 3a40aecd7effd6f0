// The run loop of a thread: every process of the suite does its work on the main
// run loop, where device callbacks, timers, file-watch reports and tasks posted from
// other threads arrive one after another.
//
// One epoll descriptor holds everything the loop waits for: an eventfd that posting
// wakes, one timerfd armed for the earliest timer, and the descriptors callers watch.
// Another event loop can therefore drive this one: watch fd() for reading (a Qt
// QSocketNotifier, for example) and call dispatchPending() whenever it is readable;
// dispatchPending() with the default timeout of zero never blocks.
//
// Thread safety:
//   - post(), stop(), addTimer(), addRepeatingTimer(), cancelTimer(), watchFd() and
//     unwatchFd() may be called from any thread, also from inside a callback of the
//     loop itself.
//   - run(), runUntil() and dispatchPending() run callbacks on the calling thread;
//     call them on the loop's own thread only (for main(): the process's initial
//     thread). They may be nested: a callback can run the loop again, for example to
//     wait for a reply.
//   - Every callback runs on the thread that dispatches the loop, never concurrently
//     with another callback of the same loop.
//   - When cancelTimer() or unwatchFd() is called on the loop's thread, the callback
//     is not called again once it returns. Called from another thread, a call that
//     has already started may still be running when it returns.
//   - An exception thrown by a callback leaves run()/dispatchPending() and reaches
//     its caller; the loop itself stays usable.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>

#include "base/Result.h"

namespace zv::platform {

class RunLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using Task = std::function<void()>;
  // Receives the ready events (EPOLLIN, EPOLLOUT, EPOLLHUP, ...).
  using FdHandler = std::function<void(std::uint32_t events)>;
  using SignalHandler = std::function<void(int signal)>;
  // Identifies a timer or a watch; never reused within one loop; 0 means "none".
  using TimerId = std::uint64_t;
  using WatchId = std::uint64_t;

  // A loop belonging to the calling thread. When the kernel refuses its descriptors (the
  // process is out of them), failure() says so, and the loop runs nothing: run() and
  // dispatchPending() return at once, runUntil() answers the condition as it stands.
  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The process's main run loop, belonging to the process's initial thread, created on
  // first use from any thread. It is never destroyed, so threads that outlive main()
  // can still post to it.
  static RunLoop& main();
  // Whether the calling thread is the process's initial thread.
  static bool isMainThread();
  // Whether the calling thread is the one this loop belongs to.
  bool isLoopThread() const;

  // Runs `task` on the loop's thread at its next dispatch. Tasks run in the order they
  // were posted; a task posted by a task runs in a later dispatch round.
  void post(Task task);

  // Runs `task` once, `delay` from now. Timers that fall due together run in the order
  // of their deadlines. Answers the timer's id.
  TimerId addTimer(Clock::duration delay, Task task);
  // Runs `task` every `interval` (the first time one interval from now) until cancelled.
  // A loop that falls behind skips the missed runs rather than running them in a burst.
  TimerId addRepeatingTimer(Clock::duration interval, Task task);
  // Answers whether the timer was still pending (a one-shot timer that has fired is
  // not). A repeating timer may cancel itself from its own task.
  bool cancelTimer(TimerId id);

  // Calls `handler` whenever `fd` has one of `events` (level-triggered epoll events,
  // usually EPOLLIN). Answers 0 when the descriptor cannot be watched (invalid, or
  // already watched by this loop). The caller keeps owning `fd` and must unwatch it
  // before closing it.
  WatchId watchFd(int fd, std::uint32_t events, FdHandler handler);
  // Answers whether the watch existed.
  bool unwatchFd(WatchId id);

  // Delivers the given signals to `handler` on the loop's thread, through a signalfd.
  // The signals are blocked in the calling thread and stay blocked; call this before
  // the process starts other threads, so that those threads inherit the blocked set
  // and the signals are not delivered to them. Answers 0 on failure; unwatchFd() ends
  // the delivery.
  WatchId watchSignals(std::initializer_list<int> signals, SignalHandler handler);

  // Dispatches until stop(). A stop() that arrives while no run() is active makes the
  // next run() return at once, so a stop sent just before the loop starts is not lost.
  void run();
  // Makes the innermost active run() return after the callback it is running.
  void stop();
  // Waits up to `timeout` for something to become ready (zero: do not wait; negative:
  // wait without limit), then runs what is ready: due timers, fd handlers and the tasks
  // posted so far. Answers the number of callbacks that ran.
  std::size_t dispatchPending(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
  // Dispatches until `condition` holds or `timeout` has passed; answers the condition.
  // The condition is checked before the first wait and after each dispatch round.
  bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

  // The epoll descriptor: readable whenever dispatchPending() has something to run.
  int fd() const { return epollFd_; }
  // Why the loop cannot run; nothing when it can.
  const std::optional<base::Failure>& failure() const { return failure_; }

 private:
  struct MainTag {};
  explicit RunLoop(MainTag);

  struct Timer {
    Clock::time_point deadline;
    Clock::duration interval;  // zero for a one-shot timer
    std::shared_ptr<Task> task;
  };
  struct Watch {
    int fd;
    bool ownsFd;  // closed when the watch ends (signalfd)
    std::shared_ptr<FdHandler> handler;
  };

  void open();
  void wake();
  TimerId addTimer(Clock::duration delay, Clock::duration interval, Task task);
  void armTimerLocked();
  std::size_t runPostedTasks();
  std::size_t runDueTimers();
  bool runWatch(WatchId id, std::uint32_t events);

  std::optional<base::Failure> failure_;
  int epollFd_ = -1;
  int wakeFd_ = -1;
  int timerFd_ = -1;
  pid_t ownerThread_;

  std::mutex mutex_;
  std::deque<Task> tasks_;
  std::map<TimerId, Timer> timers_;
  std::set<std::pair<Clock::time_point, TimerId>> deadlines_;
  Clock::time_point armedFor_ = Clock::time_point::max();
  std::unordered_map<WatchId, Watch> watches_;
  std::uint64_t nextId_ = 1;

  std::atomic<bool> stopRequested_{false};
};

}  // namespace zv::platform
