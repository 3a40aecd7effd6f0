#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <map>

#include "output/KeyTables.h"
#include "output/RecordingOutput.h"
#include "output/ZVKeyboard.h"

namespace zv::output {
namespace {

TEST(KeyTables, TablesHoldEveryRow) {
  // The tap's keys: 106 keyboard-page keys and the two system keys.
  EXPECT_EQ(keys().size(), 108u);
  EXPECT_EQ(std::count_if(keys().begin(), keys().end(),
                          [](const KeyRow& row) { return row.page == kSystemKeyPage; }),
            2);
  EXPECT_EQ(specialKeys().size(), 11u);
  EXPECT_EQ(modifiers().size(), 7u);
}

TEST(KeyTables, KeymapFollowsTheKernelsHidMapping) {
  const std::map<std::uint32_t, std::uint16_t> expected = {
      {0x04, KEY_A},        {0x1D, KEY_Z},         {0x1E, KEY_1},        {0x27, KEY_0},
      {0x28, KEY_ENTER},    {0x2A, KEY_BACKSPACE}, {0x35, KEY_GRAVE},    {0x39, KEY_CAPSLOCK},
      {0x3A, KEY_F1},       {0x45, KEY_F12},       {0x46, KEY_SYSRQ},    {0x49, KEY_INSERT},
      {0x4C, KEY_DELETE},   {0x4F, KEY_RIGHT},     {0x52, KEY_UP},       {0x53, KEY_NUMLOCK},
      {0x58, KEY_KPENTER},  {0x62, KEY_KP0},       {0x64, KEY_102ND},    {0x65, KEY_COMPOSE},
      {0x67, KEY_KPEQUAL},  {0x68, KEY_F13},       {0x6E, KEY_F19},      {0x80, KEY_VOLUMEUP},
      {0x87, KEY_RO},       {0x89, KEY_YEN},       {0x90, KEY_HANGEUL},  {0xE0, KEY_LEFTCTRL},
      {0xE3, KEY_LEFTMETA}, {0xE4, KEY_RIGHTCTRL}, {0xE7, KEY_RIGHTMETA}};
  for (const auto& [usage, key] : expected) {
    EXPECT_EQ(HIDToLinuxKey(kKeyboardPage, usage), key) << "usage 0x" << std::hex << usage;
  }
  // No key, rather than a bogus one.
  for (std::uint32_t usage :
       {0x00u, 0x01u, 0x03u, 0x6Fu, 0x7Au, 0x86u, 0xD7u, 0xE8u, 0xFFu, 0x10004u}) {
    EXPECT_EQ(HIDToLinuxKey(kKeyboardPage, usage), kNoKey) << "usage 0x" << std::hex << usage;
  }
  EXPECT_EQ(HIDToLinuxKey(kSystemKeyPage, 0x0D), KEY_SCALE);
  EXPECT_EQ(HIDToLinuxKey(kSystemKeyPage, 0x0E), KEY_DASHBOARD);
  EXPECT_EQ(HIDToLinuxKey(kSystemKeyPage, 0x0C), kNoKey);
  EXPECT_EQ(HIDToLinuxKey(kConsumerPage, 0xE9), kNoKey);
}

TEST(KeyTables, NoTwoUsagesShareAKeyByAccident) {
  // Only the two backslash positions of national layouts share a key.
  std::map<std::uint16_t, std::uint32_t> seen;
  const auto& keymap = usbToLinuxKeymap();
  for (std::uint32_t usage = 0; usage < keymap.size(); ++usage) {
    if (keymap[usage] == 0) continue;
    auto [it, fresh] = seen.emplace(keymap[usage], usage);
    if (!fresh) {
      EXPECT_TRUE(it->second == 0x31 && usage == 0x32)
          << "usages 0x" << std::hex << it->second << " and 0x" << usage << " both post key "
          << std::dec << keymap[usage];
    }
  }
  std::map<std::uint16_t, int> tapKeys;
  for (const KeyRow& row : keys()) EXPECT_EQ(++tapKeys[row.key], 1) << "key " << row.key;
  for (const KeyRow& row : specialKeys()) {
    EXPECT_EQ(findKey(row.key, keys()), nullptr) << "special key " << row.key;
  }
}

TEST(KeyTables, WhatTheTapRecordsPlaysBackAsTheSameKey) {
  auto output = std::make_shared<RecordingOutput>();
  ZVKeyboard keyboard(output);
  std::vector<KeyRow> rows(keys().begin(), keys().end());
  rows.insert(rows.end(), specialKeys().begin(), specialKeys().end());
  for (const KeyRow& row : rows) {
    auto tapped = mapTappedKey({EV_KEY, row.key, 1, 0});
    if (row.key == KEY_RIGHTCTRL) {
      EXPECT_FALSE(tapped) << "right control reports nothing";
      continue;
    }
    ASSERT_TRUE(tapped) << "key " << row.key;
    EXPECT_EQ(*tapped, (TappedKey{row.page, row.usage, 1})) << "key " << row.key;
    output->clear();
    keyboard.setKeyForPage(tapped->page, tapped->usage, 1);
    keyboard.setKeyForPage(tapped->page, tapped->usage, 0);
    auto events = output->events();
    ASSERT_EQ(events.size(), 2u) << "key " << row.key;
    EXPECT_EQ(events[0].code, row.key);
    EXPECT_EQ(events[1].value, 0);
  }
}

TEST(KeyTables, TapReportsKeysAsRecorded) {
  struct Case {
    const char* what;
    InputEvent event;
    std::optional<TappedKey> expected;
  };
  const Case cases[] = {
      {"period", {EV_KEY, KEY_DOT, 1, 0}, TappedKey{7, 0x37, 1}},
      {"slash up", {EV_KEY, KEY_SLASH, 0, 0}, TappedKey{7, 0x38, 0}},
      {"held key repeats as a press", {EV_KEY, KEY_A, 2, 0}, TappedKey{7, 0x04, 1}},
      {"left shift", {EV_KEY, KEY_LEFTSHIFT, 1, 0}, TappedKey{7, 0xE1, 1}},
      {"held shift does not repeat", {EV_KEY, KEY_LEFTSHIFT, 2, 0}, std::nullopt},
      {"right shift up", {EV_KEY, KEY_RIGHTSHIFT, 0, 0}, TappedKey{7, 0xE5, 0}},
      {"right alt", {EV_KEY, KEY_RIGHTALT, 1, 0}, TappedKey{7, 0xE6, 1}},
      {"right control", {EV_KEY, KEY_RIGHTCTRL, 1, 0}, std::nullopt},
      {"caps lock", {EV_KEY, KEY_CAPSLOCK, 1, 0}, std::nullopt},
      {"mute", {EV_KEY, KEY_MUTE, 1, 0}, TappedKey{7, 0x7F, 1}},
      {"volume up released", {EV_KEY, KEY_VOLUMEUP, 0, 0}, TappedKey{12, 0xE9, 0}},
      {"next track held", {EV_KEY, KEY_NEXTSONG, 2, 0}, TappedKey{12, 0xB5, 1}},
      {"window overview", {EV_KEY, KEY_SCALE, 1, 0}, TappedKey{5, 0x0D, 1}},
      {"print screen has no row", {EV_KEY, KEY_SYSRQ, 1, 0}, std::nullopt},
      {"a mouse button", {EV_KEY, BTN_LEFT, 1, 0}, std::nullopt},
      {"a code beyond the keys", {EV_KEY, 0xFFFF, 1, 0}, std::nullopt},
      {"motion", {EV_REL, REL_X, 5, 0}, std::nullopt},
      {"scan code", {EV_MSC, MSC_SCAN, 0x70004, 0}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(mapTappedKey(c.event), c.expected) << c.what;
}

TEST(KeyTables, VirtualKeyboardDeclaresEveryProducibleKey) {
  const std::vector<std::uint16_t> codes = producibleKeys();
  auto declared = [&](std::uint16_t key) {
    return std::binary_search(codes.begin(), codes.end(), key);
  };
  for (std::uint16_t key : usbToLinuxKeymap()) {
    if (key != 0) {
      EXPECT_TRUE(declared(key)) << key;
    }
  }
  for (const KeyRow& row : keys()) EXPECT_TRUE(declared(row.key)) << row.key;
  for (const KeyRow& row : specialKeys()) EXPECT_TRUE(declared(row.key)) << row.key;
  EXPECT_FALSE(declared(0));
}

}  // namespace
}  // namespace zv::output
