// The commands of one element within a shift state (an element of its "assignments").
// Each value of the element picks a band; a change of band stops the command of the
// previous band and starts the command of the new one, each run on a thread of its own.
//
// Band selection for a value V, over the bands in order:
//   - the hat switch (element 0x10039) at 0 selects no band;
//   - a single band is selected when its threshold <= V;
//   - of several bands, the first whose threshold >= V is selected;
//   - otherwise no band.
// So a button (one band of threshold 1) starts its command on press and stops it on
// release, and a multi-band element switches commands as its value crosses thresholds.
// A latched trigger (its control is marked latching) starts on a press, keeps running
// over the release, and stops at the next press.
//
// Threads: setValue() and cancel() belong to the thread that delivers element events;
// the trigger's fields are that thread's alone. The command runs hold only the command
// and the profile's engine context, never the trigger.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVActionCommand;
class ZVProfile;
class ZVBand;
class ZVShiftState;

class ZVActionCommandTrigger : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVActionCommandTrigger";
  const char* className() const override { return kClassName; }

  // After the base: reads the element from the node value ("0x…" text as hexadecimal,
  // otherwise the number or decimal text) and registers with its shift state.
  void setJSONDictionary(const json::DictionaryPtr& dictionary) override;
  // Keeps the profile; takes `latched` from the first control of the profile's current
  // controller with the same node value.
  void loadCompleted(const profile::ObjectPtr& root) override;

  // The parent shift state, or the parent trigger's; nullptr when neither.
  std::shared_ptr<ZVShiftState> shiftState() const;

  std::uint32_t hidElement() const { return hidElement_; }
  // "bands", "unprogrammed", "mouse-x", "mouse-y" mean something to shift states.
  std::string role() const { return string("role"); }
  const std::vector<std::shared_ptr<ZVBand>>& bands() const { return bands_; }
  // Whether at least one band has a command.
  bool hasCommand() const;
  bool latched() const { return latched_; }

  // The band a value selects (rules above); nullptr for none.
  std::shared_ptr<ZVBand> bandForValue(std::int32_t value) const;

  // One value of the element. A value equal to the last accepted one, or one that
  // selects the band already current, changes nothing.
  void setValue(std::int32_t value);
  // Starts a run of `command` on its own thread, reported to the delegate in delegate
  // mode; it becomes the current command at once.
  void startCmd(const std::shared_ptr<ZVActionCommand>& command);
  // Cancels the current command: its runs skip their release phase.
  void cancel();

  std::shared_ptr<ZVBand> currentBand() const { return currentBand_; }
  std::int32_t lastValue() const { return lastValue_; }
  std::shared_ptr<ZVActionCommand> currentCommand() const { return currentCommand_; }
  std::shared_ptr<ZVProfile> profile() const { return profile_.lock(); }

 private:
  std::uint32_t hidElement_ = 0;
  std::vector<std::shared_ptr<ZVBand>> bands_;
  std::weak_ptr<ZVProfile> profile_;
  bool latched_ = false;
  std::shared_ptr<ZVBand> currentBand_;
  std::int32_t lastValue_ = 0;
  std::shared_ptr<ZVActionCommand> currentCommand_;
};

}  // namespace zv::engine
