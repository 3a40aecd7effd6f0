#include "engine/CommandThreads.h"

#include <cstdlib>

#include "engine/ButtonState.h"
#include "engine/Clock.h"
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
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.finished) {
      out.push_back(std::move(it->second.thread));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

bool CommandThreads::launch(Body body, Abort abort) {
  std::vector<std::thread> finished;
  {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return false;
    collectFinishedLocked(finished);
    const std::uint64_t id = nextId_++;
    Entry& entry = entries_[id];
    entry.abort = std::move(abort);
    ++active_;
    // The new thread reports its end under the lock held here, so its entry is
    // complete (thread stored) before it can be marked finished.
    entry.thread = std::thread([this, id, body = std::move(body)]() mutable {
      tOnCommandThread = true;
      try {
        body();
      } catch (...) {
        // A run must never take the process down; what failed already said so.
      }
      body = nullptr;  // let go of the run's objects before reporting the end
      std::lock_guard done(mutex_);
      auto it = entries_.find(id);
      if (it != entries_.end()) {
        it->second.finished = true;
        it->second.abort = nullptr;
      }
      --active_;
      idle_.notify_all();
    });
  }
  joinAll(finished);
  return true;
}

std::size_t CommandThreads::active() const {
  std::lock_guard lock(mutex_);
  return active_;
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
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t running = active();
    if (running == 0) return true;
    // A run woken by the clock counts as waiting again only once it waits again, and one
    // that ends leaves `active`: both counts settle together.
    if (clock.waitForWaiters(running, std::chrono::milliseconds(1)) && active() == running &&
        clock.waiting() >= running) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

void CommandThreads::cancelAndJoinAll() {
  if (onCommandThread()) return;
  std::vector<std::thread> threads;
  {
    std::unique_lock lock(mutex_);
    while (active_ != 0) {
      std::vector<Abort> aborts;
      for (auto& [id, entry] : entries_) {
        if (!entry.finished && entry.abort) aborts.push_back(entry.abort);
      }
      // Unlocked: an abort takes the run's own locks, and a body that ends reports here.
      lock.unlock();
      for (const Abort& abort : aborts) abort();
      lock.lock();
      // Asked again until they have all ended; aborting a run twice does nothing more.
      idle_.wait_for(lock, std::chrono::milliseconds(50), [&] { return active_ == 0; });
    }
    for (auto& [id, entry] : entries_) threads.push_back(std::move(entry.thread));
    entries_.clear();
  }
  joinAll(threads);
}

void CommandThreads::shutdown() {
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
  }
  cancelAndJoinAll();
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
