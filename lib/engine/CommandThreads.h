// Every command run has a thread of its own. This registry starts those threads and
// keeps them, so that none outlives what it uses:
//
//   - A run holds shared ownership of everything it touches (its command and the
//     command's blocks, the profile's EngineContext, its keyboard and mouse), never the
//     profile itself. A profile rebuilt or destroyed on the main thread while runs go
//     on leaves them working on the detached objects, which are freed when the last run
//     lets go of them.
//   - At process exit (std::exit, or main returning) an exit handler aborts every run
//     (the run skips its remaining phases and releases its keys) and joins its thread.
//     The statics that runs use (the real clock, the shared button state, the
//     workspace and the output) are created before that handler is registered, so they
//     are destroyed only after it has run. A process may call shutdown() itself before
//     leaving main().
//   - At most kMaxActive bodies run at once. Beyond that a launch is refused (it answers
//     false and runs nothing) and the first refusal of a burst is logged (a burst ends
//     once the runs have drained to half the bound); the runs
//     already going on are untouched, so keys they hold are still released when they end.
//     A thread that cannot be created is refused the same way.
//   - Tests and tools wait for the runs to end (waitIdle) or end them
//     (cancelAndJoinAll) before they destroy what they handed to the engine (clocks,
//     recorders); with a manual clock they move time with advanceClockTo().
//
// Threads: every operation may be called from any thread except a command thread's own
// body, which must not wait for itself (waitIdle, cancelAndJoinAll and shutdown from a
// body answer at once, doing nothing).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace zv::engine {

class ManualClock;

class CommandThreads {
 public:
  using Body = std::function<void()>;
  using Abort = std::function<void()>;

  // The most command runs one process has going on at once. A run lives from its press
  // until its release block has ended, so runs overlap only while buttons are held or
  // macros still play: a busy player holds a few buttons, each with one or two runs, and
  // a shift layer adds one. 256 is ten times more than anyone reaches, and far below the
  // threads a desktop session allows one service (a default systemd service may have
  // about 4 900 tasks), so the process never gets near a failure to create a thread.
  static constexpr std::size_t kMaxActive = 256;

  // The process-wide registry, created on first use and never destroyed.
  static CommandThreads& shared();

  // Runs `body` on a new thread. `abort`, called from another thread, asks the body to
  // end as soon as it can; it must be safe to call at any time, also after the body
  // has returned. Answers false, running nothing, once shutdown() has begun, while
  // kMaxActive bodies run, or when the system refuses a new thread.
  bool launch(Body body, Abort abort);

  // Bodies started and not yet returned.
  std::size_t active() const;
  // Launches refused so far because of the bound or a failed thread creation.
  std::size_t refused() const;
  // Blocks until every body has returned or `timeout` has passed; answers whether all
  // have.
  bool waitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // For a process that drives time itself (tests, `kinetra simulate`): blocks until
  // every run has ended or waits on `clock`, so that moving the clock next wakes them
  // all from a known state; false when that takes longer than `timeout`. Only command
  // runs may wait on `clock` meanwhile.
  bool waitQuiet(const ManualClock& clock,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Aborts every running body and joins every thread. Later launches work as before.
  void cancelAndJoinAll();
  // cancelAndJoinAll(), then refuses every later launch. Run by the exit handler.
  void shutdown();

 private:
  CommandThreads() = default;
  struct Entry {
    std::thread thread;
    Abort abort;
    bool finished = false;
  };
  // Moves the threads of finished bodies out of the table, to be joined unlocked.
  void collectFinishedLocked(std::vector<std::thread>& out);
  static bool onCommandThread();

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::map<std::uint64_t, Entry> entries_;
  // Changed under mutex_; read without it by waitQuiet's condition, which runs under the
  // clock's lock. Lock order: mutex_, then a clock's.
  std::atomic<std::size_t> active_{0};
  // The clocks waitQuiet waits on now: told when a run ends, since an end is no wait.
  mutable std::vector<const ManualClock*> quietClocks_;
  std::uint64_t nextId_ = 1;
  bool shuttingDown_ = false;
  std::size_t refused_ = 0;
  bool refusing_ = false;  // in a burst of refusals: logged already
};

// Moves `clock` to `when` the way real time would pass for the runs: deadline by
// deadline, letting the runs settle (waitQuiet) before the first step and after each,
// so every wait ends at its own deadline and what the runs do between deadlines is
// done before time moves on. False when the runs do not settle within `timeout` at some
// step (the clock then stands at that step).
bool advanceClockTo(ManualClock& clock, std::chrono::steady_clock::time_point when,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace zv::engine
