// A command: up to three action blocks run over one press of a control. The pressed
// block runs once; after a hold of 0.5 s the held block (or, without one, a pressed
// block of at most two actions: a single keystroke auto-repeats) runs again every
// 0.1 s until the command is stopped; then the released block runs once. A stop runs
// the released block, a cancel skips it; at the end every key the run left down is
// released.
//
//      press                    stop                  end of run
//        |<-------- 0.5 s ------->|<- 0.1 s ->|    |     |
//        [pressed]                [held]      [held] ... [released] resetKeys
//
// Each run has its own thread, its own keyboard and mouse, and its own state (status,
// current block, the condition its waits use), so a command started again while an
// earlier run is still finishing starts a second, independent run: the earlier run
// completes its release phase undisturbed. stop() and cancel() reach every run of the
// command in progress. Waits use the profile's clock.
//
// Runs started with launch() are bounded: at most kMaxRuns of one command at once, and at
// most CommandThreads::kMaxActive in the process. A launch beyond either is refused: it
// starts nothing, leaves the runs in progress as they are (they still release their keys
// at their end), and the first refusal of a burst is logged; a burst ends when the runs
// have drained to half the bound.
//
// Threads: launch(), stop() and cancel() come from the thread that delivers element
// events (or changes shift states); runs execute on command threads (CommandThreads).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/Clock.h"
#include "engine/CommandStatus.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class EngineContext;
class ZVActionBlock;

class ZVActionCommand : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVActionCommand";
  const char* className() const override { return kClassName; }

  // The most runs of one command at once. Runs of one command overlap only when it is
  // pressed again before the macro of an earlier press has played out: 64 overlapping
  // runs take a press every 60 ms (as fast as anyone clicks) for 4 s on a macro longer
  // than 4 s, each press replaying the whole macro over the others. No use of a mouse
  // does that; a stuck or scripted input does, and is stopped here.
  static constexpr std::size_t kMaxRuns = 64;

  // The state of one run.
  class Run {
   public:
    explicit Run(std::shared_ptr<Clock> clock);
    std::int32_t status() const { return status_.load(std::memory_order_acquire); }
    // Only a started run stops: its waits end and its current block is told.
    void stop();
    // The run skips what remains of its hold and its released block; the current block
    // finishes its actions.
    void cancel();
    // cancel(), and the current block is cancelled too: the run ends at once. Used when
    // the process ends.
    void abort();

   private:
    friend class ZVActionCommand;
    // Waits up to `time`, ending early once the run is no longer started.
    void wait(Clock::Duration time);
    void setCurrentBlock(std::shared_ptr<ZVActionBlock> block);

    std::shared_ptr<Clock> clock_;
    mutable std::mutex mutex_;
    Condition condition_;
    std::atomic<std::int32_t> status_{kCommandStarted};
    std::shared_ptr<ZVActionBlock> currentBlock_;
  };

  // Sorts the blocks into phases by type: absent, empty or "press" → pressed, "repeat"
  // → held, "release" → released; other types are ignored and a later block of a phase
  // replaces an earlier one. Keeps the profile's engine context.
  void loadCompleted(const profile::ObjectPtr& root) override;

  // Runs the command on the calling thread and returns when the run has ended (after a
  // stop or cancel from another thread).
  void start();
  // Starts a run on a thread of its own. The run counts as started from the moment this
  // returns, so a stop() that follows at once still reaches it. With `report` and the
  // profile in delegate mode, the delegate hears onProfileCmdBegin and onProfileCmdEnd
  // around the run. Answers false, starting nothing, when the process is ending or a
  // bound refuses the run (see the top of this file).
  bool launch(bool report);
  void stop();
  void cancel();

  // The status of the latest run (0 before the first).
  std::int32_t status() const;
  // Runs in progress.
  std::size_t runCount() const;
  // Launches refused so far because kMaxRuns runs of this command were going on.
  std::size_t refusedRunCount() const;

  std::shared_ptr<ZVActionBlock> pressedActionBlock() const { return pressed_; }
  std::shared_ptr<ZVActionBlock> heldActionBlock() const { return held_; }
  std::shared_ptr<ZVActionBlock> releasedActionBlock() const { return released_; }

 private:
  // nullptr when `bounded` and kMaxRuns runs are going on.
  std::shared_ptr<Run> beginRun(bool bounded);
  void execute(const std::shared_ptr<Run>& run);
  void endRun(const std::shared_ptr<Run>& run);
  std::vector<std::shared_ptr<Run>> runs() const;

  std::shared_ptr<ZVActionBlock> pressed_;
  std::shared_ptr<ZVActionBlock> held_;
  std::shared_ptr<ZVActionBlock> released_;
  std::shared_ptr<EngineContext> context_;

  mutable std::mutex runsMutex_;
  std::vector<std::shared_ptr<Run>> runs_;
  std::shared_ptr<Run> latest_;
  std::size_t refused_ = 0;
  bool refusing_ = false;  // in a burst of refusals: logged already
};

}  // namespace zv::engine
