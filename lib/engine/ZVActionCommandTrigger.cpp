#include "engine/ZVActionCommandTrigger.h"

#include "engine/ZVActionCommand.h"
#include "engine/ZVBand.h"
#include "engine/ZVControl.h"
#include "engine/ZVProfile.h"
#include "engine/ZVShiftState.h"
#include "protocol/HIDConstants.h"

namespace zv::engine {
namespace {

const profile::ClassRegistration<ZVActionCommandTrigger> registration;

std::uint32_t elementOf(const json::Value& nodeValue) {
  if (nodeValue.isString()) {
    const std::string& text = nodeValue.asString();
    if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
      return profile::scanHexUnsigned(std::string_view(text).substr(2));
    }
    return profile::toUnsigned32(profile::leadingDecimalNumber(text));
  }
  return profile::toUnsigned32(nodeValue.asNumber());
}

}  // namespace

void ZVActionCommandTrigger::setJSONDictionary(const json::DictionaryPtr& dictionary) {
  ZVPrototypedObject::setJSONDictionary(dictionary);
  hidElement_ = elementOf(tevNodeValue());
  bands_.clear();
  for (const profile::ObjectPtr& node : children("bands")) {
    if (auto band = std::dynamic_pointer_cast<ZVBand>(node)) bands_.push_back(std::move(band));
  }
  if (auto state = shiftState()) {
    state->registerAssignment(std::static_pointer_cast<ZVActionCommandTrigger>(shared_from_this()));
  }
}

std::shared_ptr<ZVShiftState> ZVActionCommandTrigger::shiftState() const {
  profile::ObjectPtr parent = this->parent();
  if (auto state = std::dynamic_pointer_cast<ZVShiftState>(parent)) return state;
  if (auto trigger = std::dynamic_pointer_cast<ZVActionCommandTrigger>(parent)) {
    return trigger->shiftState();
  }
  return nullptr;
}

void ZVActionCommandTrigger::loadCompleted(const profile::ObjectPtr& root) {
  auto profile = std::dynamic_pointer_cast<ZVProfile>(root);
  profile_ = profile;
  latched_ = false;
  if (!profile || !profile->currentController()) return;
  const json::Value nodeValue = tevNodeValue();
  for (const profile::ObjectPtr& control : profile->currentController()->children("controls")) {
    // Equal numbers; a text never equals a number.
    if (control->tevNodeValue() == nodeValue) {
      latched_ = isTrueText(control->string("latched"));
      break;
    }
  }
}

bool ZVActionCommandTrigger::hasCommand() const {
  for (const auto& band : bands_) {
    if (band->command()) return true;
  }
  return false;
}

std::shared_ptr<ZVBand> ZVActionCommandTrigger::bandForValue(std::int32_t value) const {
  if (hidElement_ == hid::kHatSwitchElement && value == 0) return nullptr;
  if (bands_.size() == 1) return bands_.front()->threshold() <= value ? bands_.front() : nullptr;
  for (const auto& band : bands_) {
    if (band->threshold() >= value) return band;
  }
  return nullptr;
}

void ZVActionCommandTrigger::setValue(std::int32_t value) {
  std::shared_ptr<ZVBand> band = bandForValue(value);
  if (value == lastValue_ || band == currentBand_) return;
  currentBand_ = band;
  lastValue_ = value;
  if (!latched_ || !currentCommand_) {
    std::shared_ptr<ZVActionCommand> command = band ? band->command() : nullptr;
    if (command != currentCommand_ && currentCommand_) currentCommand_->stop();
    if (command) startCmd(command);
  } else if (value != 0) {
    // The press that ends a latched command; its release starts nothing.
    currentCommand_->stop();
    currentCommand_.reset();
  }
}

void ZVActionCommandTrigger::startCmd(const std::shared_ptr<ZVActionCommand>& command) {
  // Current before the run's thread exists, so a release that comes at once stops it.
  currentCommand_ = command;
  command->launch(true);
}

void ZVActionCommandTrigger::cancel() {
  if (currentCommand_) currentCommand_->cancel();
}

}  // namespace zv::engine
