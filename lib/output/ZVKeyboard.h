// Keyboard output for action blocks and commands, and the key tap that records what the
// user types (the editor's key capture).
//
// Output: HID keyboard (7), consumer (12) and system-key (5) usages become key events on
// the virtual keyboard. Page 7 (except mute, 0x7F) and page 5 go through the keymap with
// modifier accounting and the auto-repeat mark; mute and every other page go through the
// special keys. A usage without a key posts nothing and says why.
//
// Threads: the output side runs on the thread of the command run that owns the object and
// is guarded by the object's lock. The tap runs on the thread of its FdWatcher (the main
// run loop): tap(), cancelTap() and the handler all belong to that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "log/Log.h"
#include "output/InputDevices.h"
#include "output/OutputDevice.h"

namespace zv::output {

// Receives each recorded key: HID page, usage, value (1 down, 0 up), time in milliseconds.
using KeyTapHandler = std::function<void(std::uint32_t page, std::uint32_t usage,
                                         std::uint32_t value, std::uint64_t timeMs)>;

struct TappedKey {
  std::uint32_t page;
  std::uint32_t usage;
  std::uint32_t value;
  bool operator==(const TappedKey&) const = default;
};

// What the key tap reports for one evdev event, if anything. Modifier keys report through
// the modifiers table (right control and caps lock report nothing, held modifiers do not
// repeat); special keys through their table; every other key through `keys`, a repeat
// counting as a press.
std::optional<TappedKey> mapTappedKey(const InputEvent& event);

class ZVKeyboard {
 public:
  // Output goes to sharedOutput(); the tap uses defaultTapServices().
  ZVKeyboard();
  explicit ZVKeyboard(std::shared_ptr<OutputDevice> output, TapServices services = {});
  ~ZVKeyboard();
  ZVKeyboard(const ZVKeyboard&) = delete;
  ZVKeyboard& operator=(const ZVKeyboard&) = delete;

  // Presses (value non-zero) or releases (0) one key; the entry point for action blocks.
  void setKeyForPage(std::uint32_t page, std::uint32_t usage, std::int32_t value);
  // Posts one key event with modifier accounting; `repeat` marks a press as auto-repeat.
  void setLinuxKey(std::uint32_t key, std::int32_t value, bool repeat);
  // Posts one plain key event: no modifier accounting, no flags, no repeat mark.
  void postLinuxKey(std::uint32_t key, std::int32_t value);
  // Releases every key this object pressed and did not release. The record of pressed
  // keys is kept, as releasing twice is harmless and the object is discarded afterwards.
  void resetKeys();

  // Hands every key change to `report` instead of the virtual keyboard, exactly as it
  // would be typed: HID page, usage and value (1 down, 2 an auto-repeat of a key held
  // down, 0 up). Test mode shows a profile's typing this way. Set before the first key.
  using KeyReport =
      std::function<void(std::uint32_t page, std::uint32_t usage, std::int32_t value)>;
  void reportInsteadOfPosting(KeyReport report);
  bool reporting() const { return static_cast<bool>(report_); }

  // Starts recording keys into `handler`, or gives the running tap a new handler.
  // Keyboards are grabbed while the tap is on, so typed keys do not reach applications.
  void tap(KeyTapHandler handler);
  // Stops recording, gives the keyboards back and forgets the tap; the handler stays set.
  void cancelTap();
  bool tapping() const;
  // Hands one recorded key to the handler, with the time in milliseconds.
  void eventCallback(std::uint32_t page, std::uint32_t usage, std::uint32_t value,
                     std::uint64_t timeNs);

  // The system switch that allows taps and synthetic input does not exist here: access to
  // /dev/uinput and /dev/input decides. Says what is missing and how to get it.
  void enableAssistiveDevices(bool enable);

  std::uint32_t flags() const;
  // (page << 16 | usage) of every key pressed and not released.
  std::set<std::uint32_t> pressedKeys() const;

 private:
  void setLinuxKeyLocked(std::uint32_t key, std::int32_t value, bool repeat);
  // Posts one press or release of (page, usage) the way setKeyForPage routes it.
  void routeKey(std::uint32_t page, std::uint32_t usage, std::int32_t value, bool repeat);
  void sayUnmapped(std::uint32_t page, std::uint32_t usage, const char* why);
  void sayTapProblem(const std::string& problem);
  void tryGrab(const std::shared_ptr<InputDevice>& device);
  void onReadable(const std::shared_ptr<InputDevice>& device);

  std::shared_ptr<OutputDevice> output_;
  TapServices services_;
  KeyReport report_;

  mutable std::mutex mutex_;
  std::set<std::uint32_t> pressedKeys_;
  std::uint32_t flags_ = 0;
  std::set<std::uint32_t> unmappedSaid_;

  // The tap (its thread only).
  KeyTapHandler handler_;
  bool tapOn_ = false;
  log::LogOnce tapProblem_;
  std::shared_ptr<FdWatcher> watcher_;
  std::vector<std::shared_ptr<InputDevice>> devices_;
  std::set<const InputDevice*> grabbed_;
  log::LogOnce grabProblem_;
  std::uint64_t tapGeneration_ = 0;
};

}  // namespace zv::output
