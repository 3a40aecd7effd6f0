#include "engine/ZVShiftState.h"

#include <set>

#include "device/DeviceController.h"
#include "engine/EngineContext.h"
#include "engine/ZVActionCommand.h"
#include "engine/ZVActionCommandTrigger.h"
#include "engine/ZVControl.h"
#include "engine/ZVProfile.h"
#include "text/Numbers.h"

namespace zv::engine {
namespace {

const profile::ClassRegistration<ZVShiftState> registration;

std::shared_ptr<ZVActionCommandTrigger> findInState(const std::shared_ptr<ZVShiftState>& state,
                                                    std::uint32_t element,
                                                    std::set<const ZVShiftState*>& visited) {
  if (!state || !visited.insert(state.get()).second) return nullptr;
  std::shared_ptr<ZVActionCommandTrigger> found;
  for (const profile::ObjectPtr& node : state->children("assignments")) {
    auto trigger = std::dynamic_pointer_cast<ZVActionCommandTrigger>(node);
    if (trigger && trigger->hidElement() == element && trigger->role() != "unprogrammed") {
      found = trigger;
      break;
    }
  }
  if (!found) found = findInState(state->fallback(), element, visited);
  return found && found->hasCommand() ? found : nullptr;
}

}  // namespace

void ZVShiftState::initA() {
  collatedAssignments_.clear();
}

void ZVShiftState::setJSONDictionary(const json::DictionaryPtr& dictionary) {
  collatedAssignments_.clear();
  ZVPrototypedObject::setJSONDictionary(dictionary);
}

void ZVShiftState::registerAssignment(const std::shared_ptr<ZVActionCommandTrigger>& trigger) {
  collatedAssignments_.push_back(trigger);
}

std::shared_ptr<ZVShiftState> ZVShiftState::fallback() const {
  return std::dynamic_pointer_cast<ZVShiftState>(reference("fallback"));
}

std::shared_ptr<ZVActionCommandTrigger> ZVShiftState::findCommandTriggerForElement(
    const std::shared_ptr<ZVProfile>& profile, const std::shared_ptr<ZVShiftState>& state,
    std::uint32_t element) {
  (void)profile;  // the search needs only the states
  std::set<const ZVShiftState*> visited;
  return findInState(state, element, visited);
}

void ZVShiftState::loadCompleted(const profile::ObjectPtr& root) {
  auto profile = std::dynamic_pointer_cast<ZVProfile>(root);
  profile_ = profile;
  context_ = profile ? profile->engineContext() : nullptr;
  commandTriggers_.clear();
  for (const auto& trigger : collatedAssignments_) {
    if (trigger->role() == "bands" && trigger->hasCommand()) {
      commandTriggers_[trigger->hidElement()] = trigger;
    }
  }
  if (profile && profile->currentController()) {
    auto self = std::static_pointer_cast<ZVShiftState>(shared_from_this());
    for (const profile::ObjectPtr& node : profile->currentController()->children("controls")) {
      auto control = std::dynamic_pointer_cast<ZVControl>(node);
      if (!control) continue;
      if (auto trigger = findCommandTriggerForElement(profile, self, control->hidElement())) {
        commandTriggers_[control->hidElement()] = trigger;
      }
    }
  }
  shiftCommand_.reset();
  if (profile::ObjectPtr holder = child("shiftcommand")) {
    shiftCommand_ = std::dynamic_pointer_cast<ZVActionCommand>(holder->reference("shiftcommand"));
  }
}

bool ZVShiftState::checkSelectionSet(const ButtonState& buttons) const {
  profile::ObjectPtr selection = child("selectionset");
  if (!selection) return true;
  for (const profile::ObjectPtr& item : selection->children("buttoncombo")) {
    auto it = buttons.find(item->unsignedNumber("buttonhid"));
    if (it == buttons.end() || it->second == 0) return false;
  }
  return true;
}

std::size_t ZVShiftState::triggerButtonCount() const {
  profile::ObjectPtr selection = child("selectionset");
  return selection ? selection->children("buttoncombo").size() : 0;
}

void ZVShiftState::activate() {
  const std::shared_ptr<device::DriverOperations> driver = context_ ? context_->driver() : nullptr;
  if (driver) {
    for (const auto& [element, trigger] : commandTriggers_) driver->overrideElement(element, true);
    if (device::DeviceController::isExecutive()) {
      driver->setMouseAxis(0, device::kHorizontalAxis);
      driver->setMouseAxis(0, device::kVerticalAxis);
      for (const auto& trigger : collatedAssignments_) {
        const std::string role = trigger->role();
        if (role != "mouse-x" && role != "mouse-y") continue;
        if (isRelativeMotion(trigger->hidElement())) {
          const auto profile = profile_.lock();
          ZV_LOG_ONCE(pointerRoleRefused_, log::ZVLogLevel::Critical, nullptr,
                      "profile \"%@\", shift state \"%@\": the role %@ is refused for element "
                      "%@, the mouse's own relative motion, which moves the pointer by "
                      "itself; pointer-axis roles are for absolute axes such as a stick. "
                      "Remove the role in the editor (the element then works as before)",
                      profile ? profile->string("profile") : std::string(), name(), role,
                      text::hexText(trigger->hidElement()));
          continue;
        }
        driver->setMouseAxis(trigger->hidElement(),
                             role == "mouse-x" ? device::kHorizontalAxis : device::kVerticalAxis);
      }
    }
  }
  if (shiftCommand_) shiftCommand_->launch(false);
}

bool ZVShiftState::isRelativeMotion(std::uint32_t element) const {
  const auto isMotionOf = [element](const profile::ObjectPtr& controller) {
    if (!controller) return false;
    for (const profile::ObjectPtr& node : controller->children("controls")) {
      auto control = std::dynamic_pointer_cast<ZVControl>(node);
      if (control && control->hidElement() == element && control->kind() == "motion") return true;
    }
    return false;
  };
  const auto profile = profile_.lock();
  if (profile && isMotionOf(profile->currentController())) return true;
  const auto device = context_ ? context_->device() : nullptr;
  return device && isMotionOf(device->controllerDescription());
}

void ZVShiftState::deactivate() {
  if (shiftCommand_) shiftCommand_->stop();
  cancel();
  if (!device::DeviceController::isExecutive()) return;
  if (const auto driver = context_ ? context_->driver() : nullptr) {
    for (const auto& [element, trigger] : commandTriggers_) driver->overrideElement(element, false);
    driver->setMouseAxis(0, device::kHorizontalAxis);
    driver->setMouseAxis(0, device::kVerticalAxis);
  }
}

void ZVShiftState::cancel() {
  for (const auto& [element, trigger] : commandTriggers_) trigger->cancel();
}

void ZVShiftState::onElementEvent(std::uint32_t element, std::int32_t value) {
  auto it = commandTriggers_.find(element);
  if (it != commandTriggers_.end()) it->second->setValue(value);
}

}  // namespace zv::engine
