// A shift state of a controller (an element of its "shifts"): one layer of button
// assignments. While it is the profile's current state it routes the device's element
// events to its triggers, has the driver report the routed elements to the program
// (overrides) and, in the executive process, assigns the pointer axes; its shift
// command runs while it is active.
//
// Routing table, built when the profile is loaded:
//   1. every trigger of role "bands" with a command, under its own element (even when
//      no control of the controller has that element);
//   2. for each control of the controller, the trigger findCommandTriggerForElement
//      finds for its element (later entries for an element replace earlier ones).
// findCommandTriggerForElement takes the state's first trigger for the element that is
// not "unprogrammed", else asks the fallback state (cycles of fallbacks end the search
// with nothing); a trigger found without any command in its bands answers nothing and
// so also hides the fallback's trigger.
//
// The editor process (not the executive) overrides the routed elements on activation
// but leaves the pointer axes alone, and leaves the overrides in place on deactivation.
//
// The pointer-axis roles ("mouse-x", "mouse-y") are for absolute axes (a stick reports
// its position, which the driver turns into pointer motion). A relative motion element,
// a mouse's own X or Y, already moves the pointer; read as a position it would drive the
// pointer into a corner. Activation therefore refuses those roles for an element that the
// device describes as relative motion (a "motion" control of the device's own controller
// description or of the profile's controller) and says so once per state.
//
// Threads: everything here belongs to the thread that loads the profile and delivers
// its element events; the shift command runs on its own thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "log/Log.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class EngineContext;
class ZVProfile;
class ZVActionCommand;
class ZVActionCommandTrigger;

// Element identifier → held value, as the profile sees the device's buttons.
using ButtonState = std::map<std::uint32_t, std::int32_t>;

class ZVShiftState : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVShiftState";
  const char* className() const override { return kClassName; }

  // Starts the empty collatedAssignments list.
  void initA() override;
  // Empties collatedAssignments, then builds (the triggers register while they are built).
  void setJSONDictionary(const json::DictionaryPtr& dictionary) override;
  // Builds the routing table and resolves the shift command.
  void loadCompleted(const profile::ObjectPtr& root) override;

  // Called by each trigger below this state while it is built, in build order.
  void registerAssignment(const std::shared_ptr<ZVActionCommandTrigger>& trigger);

  // The trigger that handles `element` in `state` (rules above); nullptr for none.
  static std::shared_ptr<ZVActionCommandTrigger> findCommandTriggerForElement(
      const std::shared_ptr<ZVProfile>& profile, const std::shared_ptr<ZVShiftState>& state,
      std::uint32_t element);

  // Whether every button of the selection set is held (non-zero) in `buttons`; true
  // without a selection set. A "buttonhid" that is not hexadecimal counts as element 0.
  bool checkSelectionSet(const ButtonState& buttons) const;
  // The number of buttons in the selection set (0 without one).
  std::size_t triggerButtonCount() const;

  void activate();
  // Stops the shift command (its release phase runs) and cancels every routed trigger's
  // command (no release phases); in the executive, hands the routed elements back and
  // clears both pointer axes.
  void deactivate();
  // Cancels every routed trigger's command.
  void cancel();
  // Passes the value to the trigger routed for the element, if any.
  void onElementEvent(std::uint32_t element, std::int32_t value);

  std::string name() const { return string("name"); }
  const std::map<std::uint32_t, std::shared_ptr<ZVActionCommandTrigger>>& commandTriggers() const {
    return commandTriggers_;
  }
  const std::vector<std::shared_ptr<ZVActionCommandTrigger>>& collatedAssignments() const {
    return collatedAssignments_;
  }
  std::shared_ptr<ZVActionCommand> shiftCommand() const { return shiftCommand_; }
  std::shared_ptr<ZVShiftState> fallback() const;
  std::shared_ptr<ZVProfile> profile() const { return profile_.lock(); }
  // Whether `element` is relative motion on the profile's device (see above).
  bool isRelativeMotion(std::uint32_t element) const;

 private:
  std::weak_ptr<ZVProfile> profile_;
  std::shared_ptr<EngineContext> context_;
  std::map<std::uint32_t, std::shared_ptr<ZVActionCommandTrigger>> commandTriggers_;
  std::vector<std::shared_ptr<ZVActionCommandTrigger>> collatedAssignments_;
  std::shared_ptr<ZVActionCommand> shiftCommand_;
  log::LogOnce pointerRoleRefused_;
};

}  // namespace zv::engine
