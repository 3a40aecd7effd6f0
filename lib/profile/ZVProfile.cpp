#include "profile/ZVProfile.h"

#include "device/DeviceController.h"
#include "engine/EngineContext.h"
#include "engine/ZVActionCommand.h"
#include "engine/ZVControl.h"
#include "profile/ZVProfileNotifications.h"

namespace zv::profile {
namespace {
const ClassRegistration<ZVProfile> registration;
}  // namespace

ZVProfile::ZVProfile() : context_(std::make_shared<engine::EngineContext>()) {}

ZVProfile::~ZVProfile() {
  if (!currentShiftState_) return;
  currentShiftState_->cancel();
  if (auto command = currentShiftState_->shiftCommand()) command->stop();
}

std::shared_ptr<ZVProfile> ZVProfile::create() {
  return std::make_shared<ZVProfile>();
}

bool ZVProfile::loadFromJSON(json::DictionaryPtr json, json::DictionaryPtr prototype,
                             const std::shared_ptr<device::DeviceController>& device,
                             std::weak_ptr<ZVProfileNotifications> delegate) {
  loaded_ = false;
  device_ = device;
  context_->setDevice(device);
  context_->setDelegate(std::move(delegate));
  if (!json || !prototype) return false;
  initWithPrototypeDictionary(prototype, nullptr);
  if (!setJSON(std::move(json))) return false;
  loaded_ = prototype->contains("profile");
  return loaded_;
}

void ZVProfile::loadCompleted(const ObjectPtr& root) {
  (void)root;  // the profile is the root
  // The previous tree's state must not keep running: its commands are detached from
  // everything that could stop them once this tree replaces it.
  if (currentShiftState_) currentShiftState_->deactivate();
  currentShiftState_.reset();
  currentController_.reset();
  latchableButtons_.clear();
  buttonState_.clear();

  const std::shared_ptr<device::DeviceController> device = this->device();
  if (device) {
    const json::Value balias(device->balias());
    for (const ObjectPtr& controller : children("controllers")) {
      if (controller->tevNodeValue() == balias) currentController_ = controller;
    }
  }
  if (currentController_) {
    for (const ObjectPtr& node : currentController_->children("controls")) {
      auto control = std::dynamic_pointer_cast<engine::ZVControl>(node);
      if (control && control->latched()) latchableButtons_[control->hidElement()] = true;
    }
  }
  if (device) {
    for (const auto& [element, value] : device->elementMap()) {
      if (!latchableButtons_.count(element)) buttonState_[element] = value;
    }
  }
}

std::shared_ptr<ZVProfileNotifications> ZVProfile::delegate() const {
  return context_->delegate();
}

void ZVProfile::setDelegate(std::weak_ptr<ZVProfileNotifications> delegate) {
  context_->setDelegate(std::move(delegate));
}

bool ZVProfile::useDelegateForActions() const {
  return context_->useDelegateForActions();
}

void ZVProfile::setUseDelegateForActions(bool use) {
  context_->setUseDelegateForActions(use);
}

std::shared_ptr<engine::Clock> ZVProfile::clock() const {
  return context_->clock();
}

void ZVProfile::setClock(std::shared_ptr<engine::Clock> clock) {
  context_->setClock(std::move(clock));
}

bool ZVProfile::isActive() const {
  const auto device = this->device();
  const auto store = device ? device->profileStore() : nullptr;
  const auto current = store ? store->currentProfile() : nullptr;
  return current && current->path() && path_ && *current->path() == *path_;
}

void ZVProfile::setActive() {
  const auto device = this->device();
  if (const auto store = device ? device->profileStore() : nullptr) {
    store->setCurrentProfile(std::static_pointer_cast<ZVProfile>(shared_from_this()));
  }
  updateActiveShiftState();
}

void ZVProfile::updateActiveShiftState() {
  if (!currentController_) return;
  std::size_t best = 0;
  std::shared_ptr<engine::ZVShiftState> choice;
  for (const ObjectPtr& node : currentController_->children("shifts")) {
    auto state = std::dynamic_pointer_cast<engine::ZVShiftState>(node);
    if (!state || !state->checkSelectionSet(buttonState_)) continue;
    const std::size_t count = state->triggerButtonCount();
    if (count == 0 || count > best) {
      choice = state;
      best = count;
    }
  }
  if (choice == currentShiftState_) return;
  if (currentShiftState_) currentShiftState_->deactivate();
  if (choice) {
    currentShiftState_ = choice;
    choice->activate();
  }
}

void ZVProfile::onElementEvent(std::uint32_t element, std::int32_t value, std::int32_t oldValue) {
  (void)oldValue;
  if (!latchableButtons_.count(element)) {
    auto it = buttonState_.find(element);
    if ((it == buttonState_.end() ? 0 : it->second) == value) return;
    buttonState_[element] = value;
  } else if (value != 0) {
    auto it = buttonState_.find(element);
    buttonState_[element] = (it == buttonState_.end() || it->second == 0) ? 1 : 0;
  }
  updateActiveShiftState();
  if (currentShiftState_) currentShiftState_->onElementEvent(element, value);
}

void ZVProfile::setShiftState(std::int32_t index) {
  if (index == shiftStateIdx_ || !currentController_) return;
  const ObjectArray& shifts = currentController_->children("shifts");
  if (index < 0 || static_cast<std::size_t>(index) >= shifts.size()) return;
  auto state = std::dynamic_pointer_cast<engine::ZVShiftState>(shifts[index]);
  if (!state) return;
  if (currentShiftState_) currentShiftState_->deactivate();
  currentShiftState_ = state;
  state->activate();
}

void ZVProfile::deactivate() {
  if (currentShiftState_) currentShiftState_->deactivate();
  currentShiftState_.reset();
}

void ZVProfile::stopActiveCommands() {
  if (currentShiftState_) currentShiftState_->cancel();
}

}  // namespace zv::profile
