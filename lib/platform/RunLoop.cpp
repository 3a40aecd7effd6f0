#include "platform/RunLoop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace zv::platform {

namespace {

// epoll keys of the loop's own descriptors; watch ids count up from 1 and never reach them.
constexpr std::uint64_t kWakeKey = ~std::uint64_t{0};
constexpr std::uint64_t kTimerKey = ~std::uint64_t{0} - 1;

// Reads a counter descriptor (eventfd, timerfd) so that it stops being readable.
void drain(int fd) {
  std::uint64_t count;
  while (::read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
  }
}

timespec toTimespec(RunLoop::Clock::time_point when) {
  // steady_clock is CLOCK_MONOTONIC, the timerfd's clock.
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  timespec result{};
  result.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  result.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  if (result.tv_sec == 0 && result.tv_nsec == 0) result.tv_nsec = 1;  // zero would disarm
  return result;
}

}  // namespace

RunLoop::RunLoop() : ownerThread_(::gettid()) {
  open();
}

RunLoop::RunLoop(MainTag) : ownerThread_(::getpid()) {
  open();
}

void RunLoop::open() {
  // Out of descriptors: the loop stays without any and says why in failure().
  const auto fail = [this](const char* what) {
    failure_ = base::Failure::system(errno, std::string("cannot make a run loop: ") + what);
    for (int* fd : {&timerFd_, &wakeFd_, &epollFd_}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
  };
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd_ < 0) return fail("epoll_create1");
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) return fail("eventfd");
  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (timerFd_ < 0) return fail("timerfd_create");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeKey;
  ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event);
  event.data.u64 = kTimerKey;
  ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, timerFd_, &event);
}

RunLoop::~RunLoop() {
  for (auto& [id, watch] : watches_) {
    if (watch.ownsFd) ::close(watch.fd);
  }
  for (const int fd : {timerFd_, wakeFd_, epollFd_}) {
    if (fd >= 0) ::close(fd);
  }
}

RunLoop& RunLoop::main() {
  // Deliberately never destroyed: threads still running while the process exits may post.
  static RunLoop* const loop = new RunLoop(MainTag{});
  return *loop;
}

bool RunLoop::isMainThread() {
  return ::gettid() == ::getpid();
}

bool RunLoop::isLoopThread() const {
  return ::gettid() == ownerThread_;
}

void RunLoop::wake() {
  const std::uint64_t one = 1;
  // Fails only when the counter would overflow, and then the loop is awake anyway.
  [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void RunLoop::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake();
}

void RunLoop::stop() {
  stopRequested_ = true;
  wake();
}

RunLoop::TimerId RunLoop::addTimer(Clock::duration delay, Task task) {
  return addTimer(delay, Clock::duration::zero(), std::move(task));
}

RunLoop::TimerId RunLoop::addRepeatingTimer(Clock::duration interval, Task task) {
  // A zero interval would make the timer due again at once, forever.
  if (interval <= Clock::duration::zero()) interval = std::chrono::nanoseconds(1);
  return addTimer(interval, interval, std::move(task));
}

RunLoop::TimerId RunLoop::addTimer(Clock::duration delay, Clock::duration interval, Task task) {
  const auto deadline = Clock::now() + std::max(delay, Clock::duration::zero());
  std::lock_guard lock(mutex_);
  const TimerId id = nextId_++;
  timers_.emplace(id, Timer{deadline, interval, std::make_shared<Task>(std::move(task))});
  deadlines_.emplace(deadline, id);
  armTimerLocked();
  return id;
}

bool RunLoop::cancelTimer(TimerId id) {
  std::lock_guard lock(mutex_);
  const auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  deadlines_.erase({it->second.deadline, id});
  timers_.erase(it);
  armTimerLocked();
  return true;
}

void RunLoop::armTimerLocked() {
  const auto earliest = deadlines_.empty() ? Clock::time_point::max() : deadlines_.begin()->first;
  if (earliest == armedFor_) return;
  itimerspec setting{};
  if (earliest != Clock::time_point::max()) setting.it_value = toTimespec(earliest);
  ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr);
  armedFor_ = earliest;
}

RunLoop::WatchId RunLoop::watchFd(int fd, std::uint32_t events, FdHandler handler) {
  if (fd < 0 || !handler) return 0;
  std::lock_guard lock(mutex_);
  const WatchId id = nextId_++;
  epoll_event event{};
  event.events = events;
  event.data.u64 = id;
  if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) return 0;
  watches_.emplace(id, Watch{fd, false, std::make_shared<FdHandler>(std::move(handler))});
  return id;
}

bool RunLoop::unwatchFd(WatchId id) {
  std::lock_guard lock(mutex_);
  const auto it = watches_.find(id);
  if (it == watches_.end()) return false;
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
  if (it->second.ownsFd) ::close(it->second.fd);
  watches_.erase(it);
  return true;
}

RunLoop::WatchId RunLoop::watchSignals(std::initializer_list<int> signals, SignalHandler handler) {
  if (!handler || signals.size() == 0) return 0;
  sigset_t set;
  sigemptyset(&set);
  for (int signal : signals) sigaddset(&set, signal);
  if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return 0;
  const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) return 0;
  const WatchId id = watchFd(fd, EPOLLIN, [fd, handler = std::move(handler)](std::uint32_t) {
    signalfd_siginfo info;
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      handler(static_cast<int>(info.ssi_signo));
    }
  });
  if (id == 0) {
    ::close(fd);
    return 0;
  }
  std::lock_guard lock(mutex_);
  if (auto it = watches_.find(id); it != watches_.end()) it->second.ownsFd = true;
  return id;
}

void RunLoop::run() {
  if (failure_) return;
  while (!stopRequested_.exchange(false)) {
    dispatchPending(std::chrono::milliseconds(-1));
  }
}

std::size_t RunLoop::dispatchPending(std::chrono::milliseconds timeout) {
  constexpr int kMaxEvents = 32;
  epoll_event events[kMaxEvents];
  const int waitMs = timeout.count() < 0
                         ? -1
                         : static_cast<int>(std::min<std::int64_t>(timeout.count(), INT32_MAX));
  if (failure_) return 0;
  const int count = ::epoll_wait(epollFd_, events, kMaxEvents, waitMs);
  std::size_t ran = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t key = events[i].data.u64;
    if (key == kWakeKey) {
      drain(wakeFd_);
      ran += runPostedTasks();
    } else if (key == kTimerKey) {
      drain(timerFd_);
      ran += runDueTimers();
    } else if (runWatch(key, events[i].events)) {
      ++ran;
    }
  }
  return ran;
}

bool RunLoop::runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  if (failure_) return condition();
  while (!condition()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return condition();
    dispatchPending(left);
  }
  return true;
}

std::size_t RunLoop::runPostedTasks() {
  // Only the tasks present now: a task that posts another cannot starve timers and
  // descriptors. Tasks are taken one at a time so a nested dispatch keeps their order.
  std::size_t available;
  {
    std::lock_guard lock(mutex_);
    available = tasks_.size();
  }
  std::size_t ran = 0;
  for (; ran < available; ++ran) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) break;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    if (task) task();
  }
  return ran;
}

std::size_t RunLoop::runDueTimers() {
  const auto now = Clock::now();
  std::size_t ran = 0;
  for (;;) {
    std::shared_ptr<Task> task;
    {
      std::lock_guard lock(mutex_);
      if (deadlines_.empty() || deadlines_.begin()->first > now) {
        armTimerLocked();
        break;
      }
      const TimerId id = deadlines_.begin()->second;
      deadlines_.erase(deadlines_.begin());
      auto it = timers_.find(id);
      task = it->second.task;
      if (it->second.interval > Clock::duration::zero()) {
        auto next = it->second.deadline + it->second.interval;
        if (next <= now) next = now + it->second.interval;
        it->second.deadline = next;
        deadlines_.emplace(next, id);
      } else {
        timers_.erase(it);
      }
      // The timerfd fired for the deadline just taken; arm it for the next one now, so a
      // nested dispatch inside the task still sees the remaining timers.
      armedFor_ = Clock::time_point::min();
      armTimerLocked();
    }
    (*task)();
    ++ran;
  }
  return ran;
}

bool RunLoop::runWatch(WatchId id, std::uint32_t events) {
  std::shared_ptr<FdHandler> handler;
  {
    std::lock_guard lock(mutex_);
    const auto it = watches_.find(id);
    if (it == watches_.end()) return false;  // unwatched by an earlier callback of this round
    handler = it->second.handler;
  }
  (*handler)(events);
  return true;
}

}  // namespace zv::platform
