#include "daemon/EventLoop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zv::driver {
namespace {

constexpr std::uint64_t kWakeId = 0;
constexpr std::uint64_t kTimerId = 1;
constexpr std::uint64_t kSignalId = 2;

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void addToEpoll(int epoll, int fd, std::uint64_t id) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = id;
  if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0) fail("epoll_ctl");
}

}  // namespace

EventLoop::EventLoop() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) fail("epoll_create1");
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) fail("eventfd");
  timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (timer_ < 0) fail("timerfd_create");
  addToEpoll(epoll_, wake_, kWakeId);
  addToEpoll(epoll_, timer_, kTimerId);
}

EventLoop::~EventLoop() {
  for (int fd : {signals_, timer_, wake_, epoll_}) {
    if (fd >= 0) close(fd);
  }
}

bool EventLoop::watch(int fd, std::uint32_t events, Handler handler) {
  unwatch(fd);
  const std::uint64_t id = nextWatchId_++;
  epoll_event event{};
  event.events = events;
  event.data.u64 = id;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) return false;
  watches_[id] = std::make_shared<Watch>(Watch{fd, std::move(handler)});
  watchIds_[fd] = id;
  return true;
}

void EventLoop::modify(int fd, std::uint32_t events) {
  const auto found = watchIds_.find(fd);
  if (found == watchIds_.end()) return;
  epoll_event event{};
  event.events = events;
  event.data.u64 = found->second;
  epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
}

void EventLoop::unwatch(int fd) {
  const auto found = watchIds_.find(fd);
  if (found == watchIds_.end()) return;
  epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  watches_.erase(found->second);
  watchIds_.erase(found);
}

void EventLoop::post(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

EventLoop::TimerId EventLoop::addTimer(LoopClock::duration delay, Task task) {
  const TimerId id = nextTimer_++;
  timers_.emplace(LoopClock::now() + delay, std::make_pair(id, std::move(task)));
  armTimer();
  return id;
}

void EventLoop::cancelTimer(TimerId id) {
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.first == id) {
      timers_.erase(it);
      armTimer();
      return;
    }
  }
}

void EventLoop::armTimer() {
  itimerspec spec{};
  if (!timers_.empty()) {
    const auto left = timers_.begin()->first - LoopClock::now();
    const auto ns = std::max<std::int64_t>(
        1, std::chrono::duration_cast<std::chrono::nanoseconds>(left).count());
    spec.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    spec.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  }
  timerfd_settime(timer_, 0, &spec, nullptr);
}

void EventLoop::watchSignals(std::initializer_list<int> signals, std::function<void(int)> handler) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : signals) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  if (signals_ >= 0) {
    signalfd(signals_, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  } else {
    signals_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals_ < 0) fail("signalfd");
    addToEpoll(epoll_, signals_, kSignalId);
  }
  signalHandler_ = std::move(handler);
}

void EventLoop::run() {
  while (!stopped()) runOnce(-1);
}

bool EventLoop::stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

void EventLoop::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

void EventLoop::runDueTimers() {
  std::uint64_t expirations;
  [[maybe_unused]] ssize_t n = read(timer_, &expirations, sizeof expirations);
  const auto now = LoopClock::now();
  // Only those due now: a timer added by a timer task runs in a later round.
  std::vector<Task> due;
  while (!timers_.empty() && timers_.begin()->first <= now) {
    due.push_back(std::move(timers_.begin()->second.second));
    timers_.erase(timers_.begin());
  }
  armTimer();
  for (Task& task : due) task();
}

void EventLoop::runPosted() {
  std::uint64_t count;
  [[maybe_unused]] ssize_t n = read(wake_, &count, sizeof count);
  std::vector<Task> tasks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks.swap(posted_);
  }
  for (Task& task : tasks) task();
}

bool EventLoop::runOnce(int timeoutMs) {
  epoll_event events[32];
  int count;
  do {
    count = epoll_wait(epoll_, events, 32, timeoutMs);
  } while (count < 0 && errno == EINTR);
  if (count <= 0) return false;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t id = events[i].data.u64;
    if (id == kWakeId) {
      runPosted();
    } else if (id == kTimerId) {
      runDueTimers();
    } else if (id == kSignalId) {
      signalfd_siginfo info;
      while (read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (signalHandler_) signalHandler_(static_cast<int>(info.ssi_signo));
      }
    } else {
      const auto found = watches_.find(id);
      if (found == watches_.end()) continue;  // unwatched earlier in this round
      // Keeps the handler alive while it runs, even if it unwatches itself.
      const std::shared_ptr<Watch> watch = found->second;
      watch->handler(events[i].events);
    }
  }
  return true;
}

}  // namespace zv::driver
