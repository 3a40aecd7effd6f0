#include "engine/ZVActionBlock.h"

#include "device/DriverOperations.h"
#include "engine/ButtonState.h"
#include "engine/EngineContext.h"
#include "engine/ZVProfile.h"
#include "engine/ZVProfileNotifications.h"
#include "output/Workspace.h"
#include "output/ZVKeyboard.h"
#include "output/ZVMouse.h"
#include "protocol/HIDConstants.h"
#include "text/Characters.h"

namespace zv::engine {
namespace {

const profile::ClassRegistration<ZVActionBlock> registration;

// Wheel actions: the horizontal wheel is usage 12 of the game-controls page, the vertical
// one the wheel of the generic-desktop page; the value 255 scrolls the other way.
constexpr std::uint32_t kHorizontalWheelUsage = 12;
constexpr std::uint32_t kWheelNegative = 255;
constexpr std::int32_t kWheelLines = 3;

}  // namespace

std::string trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text::isBlank(text[begin])) ++begin;
  while (end > begin && text::isBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

void ZVActionBlock::initA() {
  clock_ = steadyClock();
  delay_ = std::make_unique<Condition>(*clock_);
}

void ZVActionBlock::setJSONDictionary(const json::DictionaryPtr& dictionary) {
  ZVPrototypedObject::setJSONDictionary(dictionary);
  actions_.clear();
  for (const profile::ObjectPtr& node : children("actions")) {
    Action action;
    action.page = node->unsignedNumber("page");
    action.usage = node->unsignedNumber("usage");
    action.value = node->unsignedNumber("value");
    action.time = node->unsignedNumber("time");
    action.string = node->string("string");
    if (trimmed(node->tevNodeType()) == "string") {
      action.opensPath = true;
      action.path = node->tevNodeValue().asString();
    }
    actions_.push_back(std::move(action));
  }
}

void ZVActionBlock::loadCompleted(const profile::ObjectPtr& root) {
  auto profile = std::dynamic_pointer_cast<ZVProfile>(root);
  profile_ = profile;
  if (!profile) return;
  context_ = profile->engineContext();
  clock_ = context_->clock();
  delay_ = std::make_unique<Condition>(*clock_);
}

std::string ZVActionBlock::type() const {
  return trimmed(string("type"));
}

void ZVActionBlock::startUsingKeyboard(output::ZVKeyboard& keyboard, output::ZVMouse& mouse) {
  run(keyboard, mouse, repeat());
}

void ZVActionBlock::run(output::ZVKeyboard& keyboard, output::ZVMouse& mouse, bool repeat) {
  status_.store(kCommandStarted, std::memory_order_release);
  for (std::size_t i = 0; i < actions_.size(); ++i) {
    const Action& action = actions_[i];
    if (action.time != 0) {
      std::unique_lock lock(delayMutex_);
      delay_->waitFor(lock, std::chrono::milliseconds(action.time),
                      [this] { return status() == kCommandCancelled; });
    }
    if (status() == kCommandCancelled) return;
    if (!perform(action, i, repeat, keyboard, mouse)) return;
  }
}

bool ZVActionBlock::perform(const Action& action, std::size_t index, bool repeat,
                            output::ZVKeyboard& keyboard, output::ZVMouse& mouse) {
  const bool typed =
      !action.opensPath &&
      (action.page == hid::kKeyboardPage || action.page == hid::kConsumerPage ||
       (action.page == hid::kGameControlsPage && action.usage != kHorizontalWheelUsage));
  if (context_ && context_->useDelegateForActions() && !(typed && keyboard.reporting())) {
    // Reported, not performed: the editor shows what the profile would do. Keys go on
    // below to a keyboard that reports them, so a key held is reported held, not as taps.
    if (auto delegate = context_->delegate()) {
      delegate->onProfileActionWithPage(action.page, action.usage, action.value, action.string);
    }
    return true;
  }
  const auto value = static_cast<std::int32_t>(action.value);
  if (action.opensPath) {
    output::Workspace::shared()->openFile(action.path);
  } else if (action.page == hid::kGameControlsPage && action.usage == kHorizontalWheelUsage) {
    mouse.scrollMouse(action.value == kWheelNegative ? -kWheelLines : kWheelLines, true);
  } else if (action.page == hid::kButtonPage) {
    // Mouse buttons are forced by the driver. A change that leaves the state as it was
    // sent (a button pressed twice, or released while up) ends the block here.
    const std::shared_ptr<device::DriverOperations> driver =
        context_ ? context_->driver() : nullptr;
    if (!SharedButtonState::shared().apply(action.usage, value, driver.get())) return false;
  } else if (action.page == hid::kGenericDesktopPage && action.usage == hid::kWheelUsage) {
    mouse.scrollMouse(action.value == kWheelNegative ? -kWheelLines : kWheelLines, false);
  } else if (action.page == hid::kKeyboardPage || action.page == hid::kConsumerPage ||
             action.page == hid::kGameControlsPage) {
    // Repeating press-and-release blocks keep the key down between repetitions.
    if (repeat && actions_.size() == 2 && index == 1 && value == 0) return true;
    keyboard.setKeyForPage(action.page, action.usage, value);
  }
  return true;
}

void ZVActionBlock::stop() {
  status_.store(kCommandStopped, std::memory_order_release);
}

void ZVActionBlock::cancel() {
  {
    std::lock_guard lock(delayMutex_);
    status_.store(kCommandCancelled, std::memory_order_release);
  }
  delay_->notifyAll();
}

}  // namespace zv::engine
