#include "output/KeyTables.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <utility>

namespace zv::output {
namespace {

// Keyboard-page usages with a key, each mapped as the kernel's HID input layer maps it,
// so a usage posted here types what the same usage typed on a real keyboard types.
// Usages 0x6C..0x6E (F17..F19) are here because the tap can report them.
constexpr std::pair<std::uint8_t, std::uint16_t> kKeymapEntries[] = {
    {0x04, KEY_A},          {0x05, KEY_B},          {0x06, KEY_C},         {0x07, KEY_D},
    {0x08, KEY_E},          {0x09, KEY_F},          {0x0A, KEY_G},         {0x0B, KEY_H},
    {0x0C, KEY_I},          {0x0D, KEY_J},          {0x0E, KEY_K},         {0x0F, KEY_L},
    {0x10, KEY_M},          {0x11, KEY_N},          {0x12, KEY_O},         {0x13, KEY_P},
    {0x14, KEY_Q},          {0x15, KEY_R},          {0x16, KEY_S},         {0x17, KEY_T},
    {0x18, KEY_U},          {0x19, KEY_V},          {0x1A, KEY_W},         {0x1B, KEY_X},
    {0x1C, KEY_Y},          {0x1D, KEY_Z},          {0x1E, KEY_1},         {0x1F, KEY_2},
    {0x20, KEY_3},          {0x21, KEY_4},          {0x22, KEY_5},         {0x23, KEY_6},
    {0x24, KEY_7},          {0x25, KEY_8},          {0x26, KEY_9},         {0x27, KEY_0},
    {0x28, KEY_ENTER},      {0x29, KEY_ESC},        {0x2A, KEY_BACKSPACE}, {0x2B, KEY_TAB},
    {0x2C, KEY_SPACE},      {0x2D, KEY_MINUS},      {0x2E, KEY_EQUAL},     {0x2F, KEY_LEFTBRACE},
    {0x30, KEY_RIGHTBRACE}, {0x31, KEY_BACKSLASH},  {0x32, KEY_BACKSLASH}, {0x33, KEY_SEMICOLON},
    {0x34, KEY_APOSTROPHE}, {0x35, KEY_GRAVE},      {0x36, KEY_COMMA},     {0x37, KEY_DOT},
    {0x38, KEY_SLASH},      {0x39, KEY_CAPSLOCK},   {0x3A, KEY_F1},        {0x3B, KEY_F2},
    {0x3C, KEY_F3},         {0x3D, KEY_F4},         {0x3E, KEY_F5},        {0x3F, KEY_F6},
    {0x40, KEY_F7},         {0x41, KEY_F8},         {0x42, KEY_F9},        {0x43, KEY_F10},
    {0x44, KEY_F11},        {0x45, KEY_F12},        {0x46, KEY_SYSRQ},     {0x47, KEY_SCROLLLOCK},
    {0x48, KEY_PAUSE},      {0x49, KEY_INSERT},     {0x4A, KEY_HOME},      {0x4B, KEY_PAGEUP},
    {0x4C, KEY_DELETE},     {0x4D, KEY_END},        {0x4E, KEY_PAGEDOWN},  {0x4F, KEY_RIGHT},
    {0x50, KEY_LEFT},       {0x51, KEY_DOWN},       {0x52, KEY_UP},        {0x53, KEY_NUMLOCK},
    {0x54, KEY_KPSLASH},    {0x55, KEY_KPASTERISK}, {0x56, KEY_KPMINUS},   {0x57, KEY_KPPLUS},
    {0x58, KEY_KPENTER},    {0x59, KEY_KP1},        {0x5A, KEY_KP2},       {0x5B, KEY_KP3},
    {0x5C, KEY_KP4},        {0x5D, KEY_KP5},        {0x5E, KEY_KP6},       {0x5F, KEY_KP7},
    {0x60, KEY_KP8},        {0x61, KEY_KP9},        {0x62, KEY_KP0},       {0x63, KEY_KPDOT},
    {0x64, KEY_102ND},      {0x65, KEY_COMPOSE},    {0x66, KEY_POWER},     {0x67, KEY_KPEQUAL},
    {0x68, KEY_F13},        {0x69, KEY_F14},        {0x6A, KEY_F15},       {0x6B, KEY_F16},
    {0x6C, KEY_F17},        {0x6D, KEY_F18},        {0x6E, KEY_F19},       {0x7F, KEY_MUTE},
    {0x80, KEY_VOLUMEUP},   {0x81, KEY_VOLUMEDOWN}, {0x85, KEY_KPCOMMA},   {0x87, KEY_RO},
    {0x89, KEY_YEN},        {0x90, KEY_HANGEUL},    {0x91, KEY_HANJA},     {0xE0, KEY_LEFTCTRL},
    {0xE1, KEY_LEFTSHIFT},  {0xE2, KEY_LEFTALT},    {0xE3, KEY_LEFTMETA},  {0xE4, KEY_RIGHTCTRL},
    {0xE5, KEY_RIGHTSHIFT}, {0xE6, KEY_RIGHTALT},   {0xE7, KEY_RIGHTMETA},
};

constexpr std::array<std::uint16_t, 0xE8> makeKeymap() {
  std::array<std::uint16_t, 0xE8> map{};
  for (const auto& [usage, key] : kKeymapEntries) map[usage] = key;
  return map;
}

constexpr std::array<std::uint16_t, 0xE8> kUsbToLinuxKeymap = makeKeymap();

// The keys a key tap reports, and the keys of the system-key page. Every row maps a key
// back to the usage whose keymap entry posts that same key.
constexpr KeyRow kKeys[] = {
    {KEY_A, 0x04, 7},
    {KEY_S, 0x16, 7},
    {KEY_D, 0x07, 7},
    {KEY_F, 0x09, 7},
    {KEY_H, 0x0B, 7},
    {KEY_G, 0x0A, 7},
    {KEY_Z, 0x1D, 7},
    {KEY_X, 0x1B, 7},
    {KEY_C, 0x06, 7},
    {KEY_V, 0x19, 7},
    {KEY_102ND, 0x64, 7},
    {KEY_B, 0x05, 7},
    {KEY_Q, 0x14, 7},
    {KEY_W, 0x1A, 7},
    {KEY_E, 0x08, 7},
    {KEY_R, 0x15, 7},
    {KEY_Y, 0x1C, 7},
    {KEY_T, 0x17, 7},
    {KEY_1, 0x1E, 7},
    {KEY_2, 0x1F, 7},
    {KEY_3, 0x20, 7},
    {KEY_4, 0x21, 7},
    {KEY_6, 0x23, 7},
    {KEY_5, 0x22, 7},
    {KEY_EQUAL, 0x2E, 7},
    {KEY_9, 0x26, 7},
    {KEY_7, 0x24, 7},
    {KEY_MINUS, 0x2D, 7},
    {KEY_8, 0x25, 7},
    {KEY_0, 0x27, 7},
    {KEY_RIGHTBRACE, 0x30, 7},
    {KEY_O, 0x12, 7},
    {KEY_U, 0x18, 7},
    {KEY_LEFTBRACE, 0x2F, 7},
    {KEY_I, 0x0C, 7},
    {KEY_P, 0x13, 7},
    {KEY_ENTER, 0x28, 7},
    {KEY_L, 0x0F, 7},
    {KEY_J, 0x0D, 7},
    {KEY_APOSTROPHE, 0x34, 7},
    {KEY_K, 0x0E, 7},
    {KEY_SEMICOLON, 0x33, 7},
    {KEY_BACKSLASH, 0x31, 7},
    {KEY_COMMA, 0x36, 7},
    {KEY_SLASH, 0x38, 7},
    {KEY_N, 0x11, 7},
    {KEY_M, 0x10, 7},
    {KEY_DOT, 0x37, 7},
    {KEY_TAB, 0x2B, 7},
    {KEY_SPACE, 0x2C, 7},
    {KEY_GRAVE, 0x35, 7},
    {KEY_BACKSPACE, 0x2A, 7},
    {KEY_ESC, 0x29, 7},
    {KEY_LEFTMETA, 0xE3, 7},
    {KEY_LEFTSHIFT, 0xE1, 7},
    {KEY_LEFTALT, 0xE2, 7},
    {KEY_LEFTCTRL, 0xE0, 7},
    {KEY_RIGHTSHIFT, 0xE5, 7},
    {KEY_RIGHTALT, 0xE6, 7},
    {KEY_RIGHTCTRL, 0xE4, 7},
    {KEY_F17, 0x6C, 7},
    {KEY_KPDOT, 0x63, 7},
    {KEY_KPASTERISK, 0x55, 7},
    {KEY_KPPLUS, 0x57, 7},
    {KEY_NUMLOCK, 0x53, 7},
    {KEY_KPSLASH, 0x54, 7},
    {KEY_KPENTER, 0x58, 7},
    {KEY_KPMINUS, 0x56, 7},
    {KEY_F18, 0x6D, 7},
    {KEY_F19, 0x6E, 7},
    {KEY_KPEQUAL, 0x67, 7},
    {KEY_KP0, 0x62, 7},
    {KEY_KP1, 0x59, 7},
    {KEY_KP2, 0x5A, 7},
    {KEY_KP3, 0x5B, 7},
    {KEY_KP4, 0x5C, 7},
    {KEY_KP5, 0x5D, 7},
    {KEY_KP6, 0x5E, 7},
    {KEY_KP7, 0x5F, 7},
    {KEY_KP8, 0x60, 7},
    {KEY_KP9, 0x61, 7},
    {KEY_F5, 0x3E, 7},
    {KEY_F6, 0x3F, 7},
    {KEY_F7, 0x40, 7},
    {KEY_F3, 0x3C, 7},
    {KEY_F8, 0x41, 7},
    {KEY_F9, 0x42, 7},
    {KEY_F11, 0x44, 7},
    {KEY_F13, 0x68, 7},
    {KEY_F16, 0x6B, 7},
    {KEY_F14, 0x69, 7},
    {KEY_F10, 0x43, 7},
    {KEY_F12, 0x45, 7},
    {KEY_F15, 0x6A, 7},
    {KEY_HOME, 0x4A, 7},
    {KEY_PAGEUP, 0x4B, 7},
    {KEY_DELETE, 0x4C, 7},
    {KEY_F4, 0x3D, 7},
    {KEY_END, 0x4D, 7},
    {KEY_F2, 0x3B, 7},
    {KEY_PAGEDOWN, 0x4E, 7},
    {KEY_F1, 0x3A, 7},
    {KEY_LEFT, 0x50, 7},
    {KEY_RIGHT, 0x4F, 7},
    {KEY_DOWN, 0x51, 7},
    {KEY_UP, 0x52, 7},
    // The dashboard and window-overview keys.
    {KEY_DASHBOARD, 0x0E, 5},
    {KEY_SCALE, 0x0D, 5},
};

constexpr KeyRow kSpecialKeys[] = {
    {KEY_MUTE, 0x7F, 7},          {KEY_VOLUMEUP, 0xE9, 12},       {KEY_VOLUMEDOWN, 0xEA, 12},
    {KEY_BRIGHTNESSUP, 0xFF, 12}, {KEY_BRIGHTNESSDOWN, 0xFE, 12}, {KEY_EJECTCD, 0xB8, 12},
    {KEY_PLAYPAUSE, 0xCD, 12},    {KEY_FASTFORWARD, 0xB3, 12},    {KEY_REWIND, 0xB4, 12},
    {KEY_NEXTSONG, 0xB5, 12},     {KEY_PREVIOUSSONG, 0xB6, 12},
};

constexpr ModifierRow kModifiers[] = {
    {KEY_LEFTSHIFT, 0x02, kShiftFlag},    {KEY_RIGHTSHIFT, 0x04, kShiftFlag},
    {KEY_LEFTCTRL, 0x01, kControlFlag},   {KEY_LEFTALT, 0x20, kAlternateFlag},
    {KEY_RIGHTALT, 0x40, kAlternateFlag}, {KEY_LEFTMETA, 0x08, kCommandFlag},
    {KEY_RIGHTMETA, 0x10, kCommandFlag},
};

}  // namespace

const std::array<std::uint16_t, 0xE8>& usbToLinuxKeymap() {
  return kUsbToLinuxKeymap;
}
std::span<const KeyRow> keys() {
  return kKeys;
}
std::span<const KeyRow> specialKeys() {
  return kSpecialKeys;
}
std::span<const ModifierRow> modifiers() {
  return kModifiers;
}

const KeyRow* findKeyWithPageAndUsage(std::uint32_t page, std::uint32_t usage,
                                      std::span<const KeyRow> table) {
  for (auto row = table.rbegin(); row != table.rend(); ++row) {
    if (row->page == page && row->usage == usage) return &*row;
  }
  return nullptr;
}

const KeyRow* findKey(std::uint32_t key, std::span<const KeyRow> table) {
  for (auto row = table.rbegin(); row != table.rend(); ++row) {
    if (row->key == key) return &*row;
  }
  return nullptr;
}

const ModifierRow* findModifier(std::uint32_t key) {
  for (const ModifierRow& row : kModifiers) {
    if (row.key == key) return &row;
  }
  return nullptr;
}

const ModifierRow* findModifierFromLast(std::uint32_t key) {
  for (auto row = std::rbegin(kModifiers); row != std::rend(kModifiers); ++row) {
    if (row->key == key) return &*row;
  }
  return nullptr;
}

std::uint32_t HIDToLinuxKey(std::uint32_t page, std::uint32_t usage) {
  if (page == kKeyboardPage) {
    if (usage >= kUsbToLinuxKeymap.size() || kUsbToLinuxKeymap[usage] == 0) return kNoKey;
    return kUsbToLinuxKeymap[usage];
  }
  const KeyRow* row = findKeyWithPageAndUsage(page, usage, kKeys);
  return row ? row->key : kNoKey;
}

bool isModifierChangeKey(std::uint32_t key) {
  switch (key) {
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT:
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL:
    case KEY_LEFTALT:
    case KEY_RIGHTALT:
    case KEY_LEFTMETA:
    case KEY_RIGHTMETA:
    case KEY_CAPSLOCK:
    case KEY_FN:
      return true;
    default:
      return false;
  }
}

std::vector<std::uint16_t> producibleKeys() {
  std::vector<std::uint16_t> codes;
  for (std::uint16_t key : kUsbToLinuxKeymap) {
    if (key != 0) codes.push_back(key);
  }
  for (const KeyRow& row : kKeys) codes.push_back(row.key);
  for (const KeyRow& row : kSpecialKeys) codes.push_back(row.key);
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  return codes;
}

}  // namespace zv::output
