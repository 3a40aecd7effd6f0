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
  std::string refusal;  // why this launch was refused, when it is the first of a burst
  bool launched = false;
  {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return false;
    collectFinishedLocked(finished);
    if (active_ >= kMaxActive) {
      refusal = "runs of commands are already going on, the most one process allows";
    } else {
      const std::uint64_t id = nextId_++;
      Entry& entry = entries_[id];
      entry.abort = std::move(abort);
      ++active_;
      // The new thread reports its end under the lock held here, so its entry is
      // complete (thread stored) before it can be marked finished.
      try {
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
          for (const ManualClock* clock : quietClocks_) clock->recheckWaiters();
        });
        launched = true;
      } catch (const std::system_error& error) {
        entries_.erase(id);
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
  joinAll(finished);
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
