#include "engine/ZVActionCommand.h"

#include <algorithm>

#include "engine/CommandThreads.h"
#include "engine/EngineContext.h"
#include "engine/ZVActionBlock.h"
#include "engine/ZVProfile.h"
#include "engine/ZVProfileNotifications.h"
#include "log/Log.h"
#include "output/ZVKeyboard.h"
#include "output/ZVMouse.h"

namespace zv::engine {
namespace {

const profile::ClassRegistration<ZVActionCommand> registration;

using namespace std::chrono_literals;
constexpr Clock::Duration kHold = 500ms;
constexpr Clock::Duration kRepeatInterval = 100ms;
// A pressed block this short repeats while held when there is no held block.
constexpr std::size_t kMaxAutoRepeatActions = 2;

}  // namespace

// --- One run ---------------------------------------------------------------------

ZVActionCommand::Run::Run(std::shared_ptr<Clock> clock)
    : clock_(std::move(clock)), condition_(*clock_) {}

void ZVActionCommand::Run::stop() {
  std::shared_ptr<ZVActionBlock> block;
  {
    std::lock_guard lock(mutex_);
    if (status() != kCommandStarted) return;
    status_.store(kCommandStopped, std::memory_order_release);
    block = currentBlock_;
  }
  condition_.notifyAll();
  if (block) block->stop();
}

void ZVActionCommand::Run::cancel() {
  {
    std::lock_guard lock(mutex_);
    status_.store(kCommandCancelled, std::memory_order_release);
  }
  condition_.notifyAll();
}

void ZVActionCommand::Run::abort() {
  cancel();
  std::shared_ptr<ZVActionBlock> block;
  {
    std::lock_guard lock(mutex_);
    block = currentBlock_;
  }
  if (block) block->cancel();
}

void ZVActionCommand::Run::wait(Clock::Duration time) {
  std::unique_lock lock(mutex_);
  condition_.waitFor(lock, time, [this] { return status() != kCommandStarted; });
}

void ZVActionCommand::Run::setCurrentBlock(std::shared_ptr<ZVActionBlock> block) {
  std::lock_guard lock(mutex_);
  currentBlock_ = std::move(block);
}

// --- The command -----------------------------------------------------------------

void ZVActionCommand::loadCompleted(const profile::ObjectPtr& root) {
  pressed_.reset();
  held_.reset();
  released_.reset();
  for (const profile::ObjectPtr& node : children("actionblocks")) {
    auto block = std::dynamic_pointer_cast<ZVActionBlock>(node);
    if (!block) continue;
    const std::string type = block->type();
    if (type.empty() || type == "press") {
      pressed_ = block;
    } else if (type == "repeat") {
      held_ = block;
    } else if (type == "release") {
      released_ = block;
    }
  }
  if (auto profile = std::dynamic_pointer_cast<ZVProfile>(root)) {
    context_ = profile->engineContext();
  }
}

std::shared_ptr<ZVActionCommand::Run> ZVActionCommand::beginRun(bool bounded) {
  auto run = std::make_shared<Run>(context_ ? context_->clock() : steadyClock());
  bool firstRefusal = false;
  {
    std::lock_guard lock(runsMutex_);
    if (!bounded || runs_.size() < kMaxRuns) {
      // The burst of refusals ends once runs have drained to half the bound.
      if (runs_.size() <= kMaxRuns / 2) refusing_ = false;
      runs_.push_back(run);
      latest_ = run;
      return run;
    }
    ++refused_;
    firstRefusal = !refusing_;
    refusing_ = true;
  }
  if (firstRefusal) {
    ZV_LOG(
        log::ZVLogLevel::Error, nullptr,
        "Not starting command \"%@\" again: %@ runs of it are going on, the most one command may "
        "have. It is pressed again faster than its macro plays out; its presses start "
        "nothing until runs of it have ended.",
        string("name"), kMaxRuns);
  }
  return nullptr;
}

void ZVActionCommand::endRun(const std::shared_ptr<Run>& run) {
  std::lock_guard lock(runsMutex_);
  runs_.erase(std::remove(runs_.begin(), runs_.end(), run), runs_.end());
}

std::vector<std::shared_ptr<ZVActionCommand::Run>> ZVActionCommand::runs() const {
  std::lock_guard lock(runsMutex_);
  return runs_;
}

void ZVActionCommand::start() {
  execute(beginRun(false));
}

bool ZVActionCommand::launch(bool report) {
  auto self = std::static_pointer_cast<ZVActionCommand>(shared_from_this());
  std::shared_ptr<Run> run = beginRun(true);
  if (!run) return false;
  std::shared_ptr<EngineContext> context = context_;
  const bool launched = CommandThreads::shared().launch(
      [self, run, context, report] {
        const bool reporting = report && context && context->useDelegateForActions();
        if (reporting) {
          if (auto delegate = context->delegate()) delegate->onProfileCmdBegin();
        }
        self->execute(run);
        if (report && context && context->useDelegateForActions()) {
          if (auto delegate = context->delegate()) delegate->onProfileCmdEnd();
        }
      },
      [run] { run->abort(); });
  if (!launched) endRun(run);
  return launched;
}

void ZVActionCommand::execute(const std::shared_ptr<Run>& run) {
  output::ZVKeyboard keyboard;
  output::ZVMouse mouse;
  if (context_ && context_->useDelegateForActions()) {
    // Test mode: the delegate hears the keys as the keyboard would type them (held keys
    // held, repeats marked, released when the run ends).
    keyboard.reportInsteadOfPosting(
        [context = context_](std::uint32_t page, std::uint32_t usage, std::int32_t value) {
          if (auto delegate = context->delegate()) {
            delegate->onProfileActionWithPage(page, usage, static_cast<std::uint32_t>(value), "");
          }
        });
  }

  run->setCurrentBlock(pressed_);
  if (pressed_) pressed_->run(keyboard, mouse, !held_);

  if (run->status() == kCommandStarted) {
    run->wait(kHold);
    std::shared_ptr<ZVActionBlock> repeating = held_;
    if (!repeating && pressed_ && pressed_->actionCount() <= kMaxAutoRepeatActions) {
      repeating = pressed_;
    }
    // Without a repeating block (a longer macro) the run only waits for its stop.
    while (run->status() == kCommandStarted) {
      if (repeating) {
        run->setCurrentBlock(repeating);
        repeating->run(keyboard, mouse, true);
      }
      run->wait(kRepeatInterval);
    }
  }

  if (run->status() != kCommandCancelled) {
    run->setCurrentBlock(released_);
    if (released_) released_->run(keyboard, mouse, false);
  }
  keyboard.resetKeys();
  run->setCurrentBlock(nullptr);
  endRun(run);
}

void ZVActionCommand::stop() {
  for (const std::shared_ptr<Run>& run : runs()) run->stop();
}

void ZVActionCommand::cancel() {
  for (const std::shared_ptr<Run>& run : runs()) run->cancel();
}

std::int32_t ZVActionCommand::status() const {
  std::lock_guard lock(runsMutex_);
  return latest_ ? latest_->status() : 0;
}

std::size_t ZVActionCommand::runCount() const {
  std::lock_guard lock(runsMutex_);
  return runs_.size();
}

std::size_t ZVActionCommand::refusedRunCount() const {
  std::lock_guard lock(runsMutex_);
  return refused_;
}

}  // namespace zv::engine
