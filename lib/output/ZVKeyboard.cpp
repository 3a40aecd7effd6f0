#include "output/ZVKeyboard.h"

#include <linux/input-event-codes.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "log/Log.h"
#include "output/InputAccess.h"
#include "output/KeyTables.h"

namespace zv::output {
namespace {

using log::ZVLogLevel;

std::string usageText(std::uint32_t page, std::uint32_t usage) {
  char text[64];
  std::snprintf(text, sizeof text, "HID page %u usage 0x%X", page, usage);
  return text;
}

// Keyboard-page keys other than mute, and the system-key page, go through the keymap;
// everything else is a special key.
bool routesThroughKeymap(std::uint32_t page, std::uint32_t usage) {
  return (page == kKeyboardPage && usage != 0x7F) || page == kSystemKeyPage;
}

}  // namespace

std::optional<TappedKey> mapTappedKey(const InputEvent& event) {
  if (event.type != EV_KEY) return std::nullopt;
  const std::uint32_t value = event.value != 0 ? 1 : 0;
  if (isModifierChangeKey(event.code)) {
    // A modifier key changes the modifier state: only the modifiers table's keys count,
    // and a held modifier does not repeat.
    if (!findModifierFromLast(event.code) || event.value == 2) return std::nullopt;
    const KeyRow* row = findKey(event.code, keys());
    if (!row) return std::nullopt;
    return TappedKey{row->page, row->usage, value};
  }
  if (const KeyRow* row = findKey(event.code, specialKeys())) {
    return TappedKey{row->page, row->usage, value};
  }
  if (const KeyRow* row = findKey(event.code, keys())) {
    return TappedKey{row->page, row->usage, value};
  }
  return std::nullopt;
}

ZVKeyboard::ZVKeyboard() : ZVKeyboard(nullptr) {}

ZVKeyboard::ZVKeyboard(std::shared_ptr<OutputDevice> output, TapServices services)
    : output_(output ? std::move(output) : sharedOutput()), services_(std::move(services)) {}

ZVKeyboard::~ZVKeyboard() {
  cancelTap();
}

void ZVKeyboard::setKeyForPage(std::uint32_t page, std::uint32_t usage, std::int32_t value) {
  std::lock_guard lock(mutex_);
  const std::uint32_t key = (page << 16) + usage;
  const bool repeat = value != 0 && pressedKeys_.count(key) != 0;
  routeKey(page, usage, value, repeat);
  if (value != 0) {
    pressedKeys_.insert(key);
  } else {
    pressedKeys_.erase(key);
  }
}

void ZVKeyboard::reportInsteadOfPosting(KeyReport report) {
  std::lock_guard lock(mutex_);
  report_ = std::move(report);
}

void ZVKeyboard::routeKey(std::uint32_t page, std::uint32_t usage, std::int32_t value,
                          bool repeat) {
  if (report_) {
    report_(page, usage, value == 0 ? 0 : repeat ? 2 : 1);
    return;
  }
  if (routesThroughKeymap(page, usage)) {
    const std::uint32_t code = HIDToLinuxKey(page, usage);
    if (code == kNoKey) {
      sayUnmapped(page, usage, "it has no Linux key");
      return;
    }
    setLinuxKeyLocked(code, value, repeat);
    return;
  }
  const KeyRow* row = findKeyWithPageAndUsage(page, usage, specialKeys());
  if (!row) {
    sayUnmapped(page, usage, "it is not a media, volume, brightness or eject key");
    return;
  }
  // Special keys go out plain: no modifier flags, no repeat mark.
  output_->postKey(row->key, value != 0 ? 1 : 0, 0);
}

void ZVKeyboard::sayUnmapped(std::uint32_t page, std::uint32_t usage, const char* why) {
  // Once per key and keyboard: a repeating block would say it ten times a second.
  const std::uint32_t key = (page << 16) + usage;
  if (!unmappedSaid_.insert(key).second) return;
  ZV_LOG(ZVLogLevel::Critical, nullptr, "no key posted for %@: %@", usageText(page, usage), why);
}

void ZVKeyboard::setLinuxKey(std::uint32_t key, std::int32_t value, bool repeat) {
  std::lock_guard lock(mutex_);
  setLinuxKeyLocked(key, value, repeat);
}

void ZVKeyboard::setLinuxKeyLocked(std::uint32_t key, std::int32_t value, bool repeat) {
  const std::uint32_t code = key & 0xFFFF;
  if (code > KEY_MAX) {
    ZV_LOG(ZVLogLevel::Critical, nullptr,
           "no key posted for key code %u: beyond the Linux key codes", code);
    return;
  }
  const ModifierRow* modifier = findModifier(code);
  const std::uint32_t mask = modifier ? modifier->flagMask : 0;
  if (value != 0) {
    flags_ |= mask;
  } else {
    flags_ &= ~mask;
  }
  output_->postKey(static_cast<std::uint16_t>(code), value == 0 ? 0 : (repeat ? 2 : 1), flags_);
}

void ZVKeyboard::postLinuxKey(std::uint32_t key, std::int32_t value) {
  const std::uint32_t code = key & 0xFFFF;
  if (code > KEY_MAX) return;
  output_->postKey(static_cast<std::uint16_t>(code), value != 0 ? 1 : 0, 0);
}

void ZVKeyboard::resetKeys() {
  std::lock_guard lock(mutex_);
  // Every key is released the way it was pressed: special keys are held keys on the
  // virtual keyboard too, and a media key left down would repeat without end.
  for (std::uint32_t key : pressedKeys_) routeKey(key >> 16, key & 0xFFFF, 0, false);
}

std::uint32_t ZVKeyboard::flags() const {
  std::lock_guard lock(mutex_);
  return flags_;
}

std::set<std::uint32_t> ZVKeyboard::pressedKeys() const {
  std::lock_guard lock(mutex_);
  return pressedKeys_;
}

void ZVKeyboard::enableAssistiveDevices(bool) {
  if (::access("/dev/uinput", R_OK | W_OK) != 0) {
    ZV_LOG(ZVLogLevel::Critical, nullptr, "synthetic keys need access to /dev/uinput: %@",
           inputAccessAdvice());
  }
}

// The key tap.

void ZVKeyboard::sayTapProblem(const std::string& problem) {
  ZV_LOG_ONCE(tapProblem_, ZVLogLevel::Critical, nullptr, "the key tap records no keys: %@",
              problem);
}

void ZVKeyboard::tap(KeyTapHandler handler) {
  handler_ = std::move(handler);
  if (tapOn_) return;
  const TapServices services = services_.orDefaults();
  if (!services.watcher) {
    sayTapProblem("nothing in this process watches the input devices");
    return;
  }
  std::string problem;
  devices_ = services.devices->open(InputDeviceKind::keyboard, &problem);
  if (devices_.empty()) {
    sayTapProblem(problem.empty() ? "no keyboard found" : problem);
    return;
  }
  watcher_ = services.watcher;
  tapOn_ = true;
  ++tapGeneration_;
  for (const auto& device : devices_) {
    tryGrab(device);
    watcher_->watch(device->fd(), [this, device] { onReadable(device); });
  }
}

void ZVKeyboard::tryGrab(const std::shared_ptr<InputDevice>& device) {
  if (grabbed_.count(device.get())) return;
  // A key held now would never see its release on the desktop's side, which would then
  // keep it pressed: grab once every key of the device is up.
  if (device->anyKeyDown()) return;
  if (device->grab(true)) {
    grabbed_.insert(device.get());
  } else {
    ZV_LOG_ONCE(grabProblem_, ZVLogLevel::Critical, nullptr,
                "the key tap cannot take %@ for itself (another program holds it): its keys are "
                "recorded and still reach applications",
                device->name());
  }
}

void ZVKeyboard::onReadable(const std::shared_ptr<InputDevice>& device) {
  std::vector<InputEvent> events;
  const bool alive = device->readEvents(events);
  const std::uint64_t generation = tapGeneration_;
  for (const InputEvent& event : events) {
    if (auto key = mapTappedKey(event)) {
      eventCallback(key->page, key->usage, key->value, event.timeNs);
      // The handler may have stopped the tap.
      if (!tapOn_ || generation != tapGeneration_) return;
    }
  }
  if (!alive) {
    watcher_->unwatch(device->fd());
    grabbed_.erase(device.get());
    devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
    return;
  }
  tryGrab(device);
}

void ZVKeyboard::cancelTap() {
  if (!tapOn_) return;
  tapOn_ = false;
  ++tapGeneration_;
  for (const auto& device : devices_) {
    watcher_->unwatch(device->fd());
    if (grabbed_.count(device.get())) device->grab(false);
  }
  grabbed_.clear();
  devices_.clear();
  watcher_.reset();
}

bool ZVKeyboard::tapping() const {
  return tapOn_;
}

void ZVKeyboard::eventCallback(std::uint32_t page, std::uint32_t usage, std::uint32_t value,
                               std::uint64_t timeNs) {
  if (handler_) handler_(page, usage, value, timeNs / 1000000);
}

}  // namespace zv::output
