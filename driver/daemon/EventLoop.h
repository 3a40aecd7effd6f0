// The daemon's one event loop: an epoll descriptor holding the hidraw node, the uhid node,
// the listening socket, every client socket, an eventfd for work posted from other threads,
// a timerfd for timers and a signalfd for SIGTERM/SIGINT. Everything the driver does, apart
// from the mouse reporter thread and the device worker thread, runs in its callbacks, one
// at a time, so the report handler needs no lock.
//
// Thread safety: post() and stop() may be called from any thread. Everything else belongs
// to the loop's thread (the one that runs run()/runOnce()). Callbacks may watch, unwatch,
// add and cancel timers freely, also for themselves: a watch removed during a dispatch
// round is not called again in that round.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace zv::driver {

class EventLoop {
 public:
  using LoopClock = std::chrono::steady_clock;
  using Task = std::function<void()>;
  // Receives the ready epoll events (EPOLLIN, EPOLLOUT, EPOLLHUP, EPOLLERR).
  using Handler = std::function<void(std::uint32_t events)>;
  using TimerId = std::uint64_t;  // never reused; 0 is "none"

  // Throws std::system_error when the kernel refuses the descriptors.
  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Watches fd for `events` (EPOLLIN, EPOLLOUT, ...); replaces an earlier watch of fd. The
  // loop neither owns nor closes fd. Answers false (with errno set) when epoll refuses it.
  bool watch(int fd, std::uint32_t events, Handler handler);
  // Changes the events of a watched fd.
  void modify(int fd, std::uint32_t events);
  // Forgets fd; call before closing it.
  void unwatch(int fd);

  // Runs the task on the loop's thread at its next dispatch, in posting order.
  void post(Task task);

  // Runs the task once, `delay` from now.
  TimerId addTimer(LoopClock::duration delay, Task task);
  void cancelTimer(TimerId id);

  // Takes the signals away from normal delivery (blocks them in the calling thread, so call
  // it before starting other threads) and calls `handler` on the loop for each that arrives.
  void watchSignals(std::initializer_list<int> signals, std::function<void(int)> handler);

  // Dispatches until stop().
  void run();
  // One round: waits up to timeoutMs (-1 for ever, 0 not at all) and dispatches what is
  // ready. Answers whether anything was dispatched.
  bool runOnce(int timeoutMs);
  // Ends run() after the current callback. Any thread.
  void stop();
  bool stopped() const;

 private:
  struct Watch {
    int fd;
    Handler handler;
  };
  void armTimer();
  void runDueTimers();
  void runPosted();

  int epoll_ = -1;
  int wake_ = -1;   // eventfd
  int timer_ = -1;  // timerfd
  int signals_ = -1;
  std::function<void(int)> signalHandler_;

  std::uint64_t nextWatchId_ = 3;  // 0, 1, 2 are the wake, timer and signal descriptors
  std::unordered_map<std::uint64_t, std::shared_ptr<Watch>> watches_;  // by watch id
  std::unordered_map<int, std::uint64_t> watchIds_;                    // fd → watch id

  TimerId nextTimer_ = 1;
  std::multimap<LoopClock::time_point, std::pair<TimerId, Task>> timers_;

  mutable std::mutex mutex_;  // guards posted_ and stop_
  std::vector<Task> posted_;
  bool stop_ = false;
};

}  // namespace zv::driver
