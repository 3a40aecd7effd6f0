// An action block: the timed actions of one phase of a command (pressed, held,
// released). A run waits out each action's delay, then performs it: keys through the
// keyboard, wheel steps through the mouse, mouse buttons as a state forced by the
// driver, a path opened through the workspace; in delegate mode the profile's delegate
// hears of each action instead.
//
// The actions are read once, when the block is built, into a list the runs share; the
// block keeps no other state between runs than `status` and `repeat`. Several runs of
// one block may go on at once (one per command run); they share `status`.
//
// Cancelling: cancel() sets the status to cancelled and ends the delay a run is waiting
// out, so the run ends before its next action. A command does not cancel its blocks
// when it is cancelled (the block in progress finishes its actions); only the end of
// the process does, so that no run is left waiting.
//
// Threads: runs execute on command threads; stop(), cancel() and setRepeat() may come
// from any thread. Building and loading belong to the thread that loads the profile.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/CommandStatus.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::output {
class ZVKeyboard;
class ZVMouse;
}  // namespace zv::output
namespace zv::engine {

class EngineContext;
class ZVProfile;

class ZVActionBlock : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVActionBlock";
  const char* className() const override { return kClassName; }

  // One action as the runs see it.
  struct Action {
    std::uint32_t page = 0;
    std::uint32_t usage = 0;
    std::uint32_t value = 0;  // 255 is the negative direction of a wheel action
    std::uint32_t time = 0;   // milliseconds to wait before the action
    std::string string;       // text for the delegate (a string node's path)
    bool opensPath = false;   // a node of type "string": open `path`
    std::string path;
  };

  // Creates the delay condition on the real clock.
  void initA() override;
  // Reads the actions (after the base has built them).
  void setJSONDictionary(const json::DictionaryPtr& dictionary) override;
  // Keeps the profile and its engine context, and waits on the context's clock from now on.
  void loadCompleted(const profile::ObjectPtr& root) override;

  // Runs the whole block on the calling thread, with the repeat flag as it is now.
  void startUsingKeyboard(output::ZVKeyboard& keyboard, output::ZVMouse& mouse);
  // The same with an explicit repeat flag: commands pass the flag of their own run, so
  // that runs of one block on different threads do not see each other's flag.
  void run(output::ZVKeyboard& keyboard, output::ZVMouse& mouse, bool repeat);

  // Marks the block stopped; a run in progress carries on.
  void stop();
  // Marks the block cancelled and wakes a run's delay: the run ends before its next
  // action.
  void cancel();
  std::int32_t status() const { return status_.load(std::memory_order_acquire); }

  // With `repeat` set, a block of exactly two actions skips the release of its second
  // action, so a key repeating while a button is held stays down between repetitions.
  bool repeat() const { return repeat_.load(std::memory_order_acquire); }
  void setRepeat(bool repeat) { repeat_.store(repeat, std::memory_order_release); }

  // "press", "repeat", "release", or anything else the node says ("" when absent),
  // without surrounding blanks.
  std::string type() const;
  const std::vector<Action>& actionList() const { return actions_; }
  std::size_t actionCount() const { return actions_.size(); }
  std::shared_ptr<ZVProfile> profile() const { return profile_.lock(); }

 private:
  // Answers false when the run ends at this action.
  bool perform(const Action& action, std::size_t index, bool repeat, output::ZVKeyboard& keyboard,
               output::ZVMouse& mouse);

  std::vector<Action> actions_;
  std::weak_ptr<ZVProfile> profile_;
  std::shared_ptr<EngineContext> context_;
  std::shared_ptr<Clock> clock_;
  std::unique_ptr<Condition> delay_;
  std::mutex delayMutex_;
  std::atomic<std::int32_t> status_{0};
  std::atomic<bool> repeat_{false};
};

// `text` without leading and trailing blanks: node types keep a trailing blank.
std::string trimmed(std::string_view text);

}  // namespace zv::engine
