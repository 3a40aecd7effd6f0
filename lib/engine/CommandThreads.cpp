#include "engine/CommandThreads.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <system_error>

#include "engine/ButtonState.h"
#include "engine/Clock.h"
#include "log/Log.h"
#include "output/OutputDevice.h"
#include "output/Workspace.h"

namespace zv::engine {
namespace {

thread_local bool tOnCommandThread = false;

void joinAll(std::vector<std::thread>& threads) {
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
  threads.clear();
}

}  // namespace

CommandThreads& CommandThreads::shared() {
  static CommandThreads* const registry = [] {
    // Statics are destroyed in the reverse order of their construction, interleaved
    // with exit handlers by the time of registration. Creating what the runs use first
    // puts the exit handler, registered below, ahead of their destruction.
    (void)Clock::steady();
    (void)SharedButtonState::shared();
    (void)output::Workspace::shared();
    (void)output::sharedOutput();
    auto* created = new CommandThreads();  // never destroyed: threads may still report
    std::atexit([] { CommandThreads::shared().shutdown(); });
    return created;
  }();
  return *registry;
}

bool CommandThreads::onCommandThread() {
  return tOnCommandThread;
}

void CommandThreads::collectFinishedLocked(std::vector<std::thread>& out) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if ((*it)->finished) {
      out.push_back(std::move((*it)->thread));
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void CommandThreads::workerLoop(Worker& worker) {
  tOnCommandThread = true;
  std::unique_lock lock(mutex_);
  for (;;) {
    worker.wake.wait(lock, [&] { return worker.body || worker.leave; });
    if (!worker.body) break;
    Body body = std::move(worker.body);
    worker.body = nullptr;
    lock.unlock();
    try {
      body();
    } catch (...) {
      // A run must never take the process down.
      ZV_LOG_SWALLOWED(log::ZVLogLevel::Error, "a command run");
    }
    body = nullptr;  // let go of the run's objects before reporting the end
    lock.lock();
    worker.busy = false;
    worker.abort = nullptr;
    --active_;
    idle_.notify_all();
    for (const ManualClock* clock : quietClocks_) clock->recheckWaiters();
    if (worker.leave || ready_.size() >= kMaxReady) break;
    ready_.push_back(&worker);
  }
  // Nothing of `worker` is touched after this: the keeper may free it once it sees this.
  worker.finished = true;
  keeperWake_.notify_one();
}

bool CommandThreads::shortOfReadyLocked() const {
  return ready_.size() + starting_ < target_ && active_ + ready_.size() + starting_ < kMaxActive;
}

void CommandThreads::keeperLoop() {
  std::unique_lock lock(mutex_);
  while (!keeperStop_) {
    std::vector<std::thread> finished;
    collectFinishedLocked(finished);
    const bool start = !keeperStuck_ && shortOfReadyLocked();
    if (finished.empty() && !start) {
      keeperWake_.wait(lock);
      continue;
    }
    if (start) ++starting_;
    lock.unlock();
    joinAll(finished);
    const bool started = start && addReadyWorker();
    lock.lock();
    if (start) {
      --starting_;
      // No retrying in a loop: the next launch that takes a thread asks again.
      keeperStuck_ = !started;
    }
  }
}

bool CommandThreads::addReadyWorker() {
  auto worker = std::make_unique<Worker>();
  try {
    worker->thread = std::thread([this, w = worker.get()] { workerLoop(*w); });
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock lock(mutex_);
  // Threads whose runs ended may have filled the waiting places meanwhile.
  if (shuttingDown_ || ready_.size() >= kMaxReady) {
    const bool refused = shuttingDown_;
    worker->leave = true;
    worker->wake.notify_one();
    lock.unlock();
    worker->thread.join();
    return !refused;
  }
  ready_.push_back(worker.get());
  workers_.push_back(std::move(worker));
  return true;
}

bool CommandThreads::startKeeperLocked() {
  if (keeper_.joinable()) return true;
  keeperStop_ = false;
  try {
    keeper_ = std::thread([this] { keeperLoop(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void CommandThreads::keepReady(std::size_t count) {
  std::size_t missing = 0;
  {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return;
    target_ = std::max(target_, std::min(count, kMaxReady));
    if (ready_.size() + starting_ < target_) missing = target_ - ready_.size() - starting_;
    starting_ += missing;
  }
  std::size_t started = 0;
  while (started < missing && addReadyWorker()) ++started;
  std::lock_guard lock(mutex_);
  starting_ -= missing;
  if (started < missing) keeperStuck_ = true;
  if (target_ > 0) startKeeperLocked();
}

bool CommandThreads::launch(Body body, Abort abort) {
  std::string refusal;  // why this launch was refused, when it is the first of a burst
  bool launched = false;
  {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return false;
    if (active_ >= kMaxActive) {
      refusal = "runs of commands are already going on, the most one process allows";
    } else if (!ready_.empty()) {
      Worker* worker = ready_.back();
      ready_.pop_back();
      worker->body = std::move(body);
      worker->abort = std::move(abort);
      worker->busy = true;
      ++active_;
      worker->wake.notify_one();
      launched = true;
      if (keeper_.joinable() && shortOfReadyLocked()) {
        keeperStuck_ = false;
        keeperWake_.notify_one();
      }
    } else {
      // No thread waits: this run starts its own, under the lock so that the worker is
      // in the table before anyone can look for it.
      auto worker = std::make_unique<Worker>();
      worker->body = std::move(body);
      worker->abort = std::move(abort);
      worker->busy = true;
      ++active_;
      try {
        worker->thread = std::thread([this, w = worker.get()] { workerLoop(*w); });
        workers_.push_back(std::move(worker));
        ++coldStarts_;
        launched = true;
        if (target_ > 0) startKeeperLocked();
      } catch (const std::system_error& error) {
        --active_;
        refusal = std::string(
                      "runs of commands are going on, and no thread can be created for "
                      "another one (") +
                  error.what() + ")";
      }
    }
    if (launched) {
      // A burst ends once runs have drained to half the bound, not at the first launch
      // that fits again: a storm that keeps the bound full is logged once.
      if (active_ <= kMaxActive / 2) refusing_ = false;
    } else {
      ++refused_;
      if (refusing_) refusal.clear();  // said once per burst
      refusing_ = true;
      if (!refusal.empty()) refusal = std::to_string(active_.load()) + " " + refusal;
    }
  }
  if (!refusal.empty()) {
    ZV_LOG(log::ZVLogLevel::Error, nullptr,
           "Not starting a command: %@. Commands are started faster than their runs end (a "
           "long macro pressed again and again?); presses start nothing until runs have ended.",
           refusal);
  }
  return launched;
}

std::size_t CommandThreads::active() const {
  std::lock_guard lock(mutex_);
  return active_;
}

std::size_t CommandThreads::refused() const {
  std::lock_guard lock(mutex_);
  return refused_;
}

std::size_t CommandThreads::ready() const {
  std::lock_guard lock(mutex_);
  return ready_.size();
}

std::size_t CommandThreads::coldStarts() const {
  std::lock_guard lock(mutex_);
  return coldStarts_;
}

bool CommandThreads::waitIdle(std::chrono::milliseconds timeout) {
  if (onCommandThread()) return false;
  std::vector<std::thread> finished;
  bool idle;
  {
    std::unique_lock lock(mutex_);
    idle = idle_.wait_for(lock, timeout, [&] { return active_ == 0; });
    collectFinishedLocked(finished);
  }
  joinAll(finished);
  return idle;
}

bool CommandThreads::waitQuiet(const ManualClock& clock, std::chrono::milliseconds timeout) const {
  {
    std::lock_guard lock(mutex_);
    quietClocks_.push_back(&clock);
  }
  // A run woken by the clock counts as waiting again only once it waits again, and one
  // that ends leaves `active_` (and tells the clock): the condition is checked at both.
  // Only runs wait on the clock, and each at most once, so as many waits as runs means
  // every run waits.
  const bool quiet = clock.waitForWaiters(
      [this](std::size_t waiting) {
        const std::size_t running = active_.load();
        return running == 0 || waiting >= running;
      },
      timeout);
  {
    std::lock_guard lock(mutex_);
    quietClocks_.erase(std::find(quietClocks_.begin(), quietClocks_.end(), &clock));
  }
  return quiet;
}

void CommandThreads::cancelAndJoinAll() {
  if (onCommandThread()) return;
  std::vector<std::thread> finished;
  {
    std::unique_lock lock(mutex_);
    while (active_ != 0) {
      std::vector<Abort> aborts;
      for (const auto& worker : workers_) {
        if (worker->busy && worker->abort) aborts.push_back(worker->abort);
      }
      // Unlocked: an abort takes the run's own locks, and a body that ends reports here.
      lock.unlock();
      for (const Abort& abort : aborts) abort();
      lock.lock();
      // Asked again until they have all ended; aborting a run twice does nothing more.
      idle_.wait_for(lock, std::chrono::milliseconds(50), [&] { return active_ == 0; });
    }
    collectFinishedLocked(finished);
  }
  joinAll(finished);
}

void CommandThreads::shutdown() {
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
  }
  if (onCommandThread()) return;
  cancelAndJoinAll();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    keeperStop_ = true;
    keeperWake_.notify_all();
    if (keeper_.joinable()) threads.push_back(std::move(keeper_));
    for (const auto& worker : workers_) {
      worker->leave = true;
      worker->wake.notify_one();
      threads.push_back(std::move(worker->thread));
    }
    ready_.clear();
  }
  joinAll(threads);
  std::lock_guard lock(mutex_);
  workers_.clear();
}

bool advanceClockTo(ManualClock& clock, std::chrono::steady_clock::time_point when,
                    std::chrono::milliseconds timeout) {
  CommandThreads& threads = CommandThreads::shared();
  if (!threads.waitQuiet(clock, timeout)) return false;
  for (;;) {
    const std::optional<Clock::TimePoint> next = clock.nextDeadline();
    if (!next || *next > when) break;
    clock.advanceTo(*next);
    if (!threads.waitQuiet(clock, timeout)) return false;
  }
  clock.advanceTo(when);
  return threads.waitQuiet(clock, timeout);
}

}  // namespace zv::engine
