// The constant tables that translate between HID usages and Linux input-event key codes
// (linux/input-event-codes.h), in both directions:
//
//   usbToLinuxKeymap  keyboard-page usage → key code, as the kernel's HID input layer maps
//                     it; usages without a key hold 0
//   keys              (key code, usage, page) rows searched both ways: the keys a key tap
//                     reports, and the keys of pages other than the keyboard page
//   specialKeys       media, volume, brightness and eject keys, posted and reported as
//                     plain key events
//   modifiers         the modifier keys, with their device-dependent and flag masks
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/HIDConstants.h"

namespace zv::output {

// Answered by HIDToLinuxKey when a usage has no key.
inline constexpr std::uint32_t kNoKey = 0xFFFFFF;

using hid::kConsumerPage;
using hid::kKeyboardPage;
// The page of the window-overview and dashboard keys.
inline constexpr std::uint16_t kSystemKeyPage = hid::kGameControlsPage;

// Modifier flag masks, accumulated by a keyboard from the modifier keys it pressed.
inline constexpr std::uint32_t kShiftFlag = 0x20000;
inline constexpr std::uint32_t kControlFlag = 0x40000;
inline constexpr std::uint32_t kAlternateFlag = 0x80000;
inline constexpr std::uint32_t kCommandFlag = 0x100000;

struct KeyRow {
  std::uint16_t key;  // Linux key code
  std::uint16_t usage;
  std::uint16_t page;
};

struct ModifierRow {
  std::uint16_t key;
  std::uint32_t deviceMask;
  std::uint32_t flagMask;
};

// Indexed by keyboard-page usage 0x00..0xE7.
const std::array<std::uint16_t, 0xE8>& usbToLinuxKeymap();
std::span<const KeyRow> keys();
std::span<const KeyRow> specialKeys();
std::span<const ModifierRow> modifiers();

// Page 7: the keymap entry (kNoKey where it holds 0 or the usage is beyond it); any other
// page: the last row of `keys` with that page and usage; kNoKey when none.
std::uint32_t HIDToLinuxKey(std::uint32_t page, std::uint32_t usage);

// Search a (key, usage, page) table from its last row to its first; nullptr when absent.
const KeyRow* findKeyWithPageAndUsage(std::uint32_t page, std::uint32_t usage,
                                      std::span<const KeyRow> table);
const KeyRow* findKey(std::uint32_t key, std::span<const KeyRow> table);
// The modifiers row of a key, searched from the first row (the output side).
const ModifierRow* findModifier(std::uint32_t key);
// The same, searched from the last row (the tap side).
const ModifierRow* findModifierFromLast(std::uint32_t key);

// Keys whose presses arrive as modifier changes rather than key downs and ups: a tap
// reports them only through `modifiers`, so right control and caps lock report nothing.
bool isModifierChangeKey(std::uint32_t key);

// Every key code the tables can produce, sorted and without repeats: what the virtual
// keyboard declares.
std::vector<std::uint16_t> producibleKeys();

}  // namespace zv::output
