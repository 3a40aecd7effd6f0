// Every command run has a thread of its own for as long as it runs. Those threads are
// started before they are needed, so that a press reaches its first key without waiting
// for a thread to be created (that costs tens of microseconds, more on a busy machine):
//
//   - A few threads wait for runs (keepReady(): as many as the loaded profile may run at
//     once, at most kMaxReady). launch() hands the run to one of them; a keeper thread
//     starts a replacement in the background, so the next press finds one waiting too.
//     Only when more runs start at once than threads wait does a launch start a thread
//     itself. A thread whose run has ended waits for the next one, unless kMaxReady
//     already wait; then it ends.
//   - A run holds shared ownership of everything it touches (its command and the
//     command's blocks, the profile's EngineContext, its keyboard and mouse), never the
//     profile itself. A profile rebuilt or destroyed on the main thread while runs go
//     on leaves them working on the detached objects, which are freed when the last run
//     lets go of them.
//   - At process exit (std::exit, or main returning) an exit handler aborts every run
//     (the run skips its remaining phases and releases its keys) and joins every
//     thread, the waiting ones and the keeper too. The statics that runs use (the real
//     clock, the shared button state, the workspace and the output) are created before
//     that handler is registered, so they are destroyed only after it has run. A
//     process may call shutdown() itself before leaving main().
//   - At most kMaxActive bodies run at once. Beyond that a launch is refused (it answers
//     false and runs nothing) and the first refusal of a burst is logged (a burst ends
//     once the runs have drained to half the bound); the runs
//     already going on are untouched, so keys they hold are still released when they end.
//     A thread that cannot be created is refused the same way.
//   - Tests and tools wait for the runs to end (waitIdle) or end them
//     (cancelAndJoinAll) before they destroy what they handed to the engine (clocks,
//     recorders); with a manual clock they move time with advanceClockTo().
//
// Nothing polls: waiting threads and the keeper sleep on condition variables.
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
#include <memory>
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
  // The most threads kept waiting for runs. A player holds two or three buttons at once,
  // and a run that plays its release block may overlap the next press's run.
  static constexpr std::size_t kMaxReady = 4;

  // The process-wide registry, created on first use and never destroyed.
  static CommandThreads& shared();

  // Keeps min(count, kMaxReady) threads waiting for runs from now on (a larger count
  // given earlier stays). The missing ones are started before this returns, on the
  // calling thread: call it where a delay does not matter (loading a profile).
  void keepReady(std::size_t count);

  // Runs `body` on a command thread. `abort`, called from another thread, asks the body to
  // end as soon as it can; it must be safe to call at any time, also after the body
  // has returned. Answers false, running nothing, once shutdown() has begun, while
  // kMaxActive bodies run, or when the system refuses a new thread.
  bool launch(Body body, Abort abort);

  // Bodies started and not yet returned.
  std::size_t active() const;
  // Launches refused so far because of the bound or a failed thread creation.
  std::size_t refused() const;
  // Threads waiting for a run now.
  std::size_t ready() const;
  // Launches that found no thread waiting and started one themselves.
  std::size_t coldStarts() const;
  // Blocks until every body has returned or `timeout` has passed; answers whether all
  // have.
  bool waitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // For a process that drives time itself (tests, `kinetra simulate`): blocks until
  // every run has ended or waits on `clock`, so that moving the clock next wakes them
  // all from a known state; false when that takes longer than `timeout`. Only command
  // runs may wait on `clock` meanwhile.
  bool waitQuiet(const ManualClock& clock,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Aborts every running body and waits until all have returned; the threads that ran
  // them are joined or wait for the next run. Later launches work as before.
  void cancelAndJoinAll();
  // cancelAndJoinAll(), then refuses every later launch and joins every thread (the
  // waiting ones and the keeper). Run by the exit handler.
  void shutdown();

 private:
  CommandThreads() = default;
  // One command thread: it runs the bodies handed to it, one after the other.
  struct Worker {
    std::thread thread;
    std::condition_variable wake;  // a body was handed over, or the thread must leave
    Body body;
    Abort abort;  // of the body being run
    bool busy = false;
    bool leave = false;
    bool finished = false;  // the thread has returned or is about to: join it
  };

  void workerLoop(Worker& worker);
  void keeperLoop();
  // Starts a thread that waits for runs; called without mutex_. False when the system
  // refuses a thread.
  bool addReadyWorker();
  // Starts the keeper unless it runs; false when it cannot be started.
  bool startKeeperLocked();
  bool shortOfReadyLocked() const;
  // Moves the threads of finished workers out of the table, to be joined unlocked.
  void collectFinishedLocked(std::vector<std::thread>& out);
  static bool onCommandThread();

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<Worker*> ready_;  // the last one in is the first one out: its stack is warm
  std::size_t target_ = 0;      // threads to keep waiting
  std::size_t starting_ = 0;    // threads the keeper is starting now
  std::thread keeper_;
  std::condition_variable keeperWake_;
  bool keeperStop_ = false;
  bool keeperStuck_ = false;  // a thread could not be started: wait for the next launch
  // Changed under mutex_; read without it by waitQuiet's condition, which runs under the
  // clock's lock. Lock order: mutex_, then a clock's.
  std::atomic<std::size_t> active_{0};
  // The clocks waitQuiet waits on now: told when a run ends, since an end is no wait.
  mutable std::vector<const ManualClock*> quietClocks_;
  bool shuttingDown_ = false;
  std::size_t refused_ = 0;
  std::size_t coldStarts_ = 0;
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
