#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "output/KeyTables.h"
#include "output/RecordingOutput.h"
#include "output/ZVKeyboard.h"
#include "testing/LogCapture.h"

namespace zv::output {
namespace {

// (code, value, flags, auto-repeat) of each recorded event, for compact comparisons.
struct Key {
  std::uint16_t code;
  std::int32_t value;
  std::uint32_t flags = 0;
  bool repeat = false;
  bool operator==(const Key&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Key& key) {
  return out << "{" << codeName(EV_KEY, key.code) << " " << key.value << " flags=0x" << std::hex
             << key.flags << std::dec << (key.repeat ? " repeat" : "") << "}";
}

class KeyboardTest : public ::testing::Test {
 protected:
  std::vector<Key> keysPosted() const {
    std::vector<Key> out;
    for (const RecordedEvent& event : output->events()) {
      EXPECT_EQ(event.device, VirtualDevice::keyboard);
      EXPECT_EQ(event.type, EV_KEY);
      out.push_back({event.code, event.value, event.flags, event.autoRepeat});
    }
    return out;
  }

  zv::testing::LogCapture messages;
  std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
  ZVKeyboard keyboard{output};
};

TEST_F(KeyboardTest, PressReleaseAndTheAutoRepeatMark) {
  keyboard.setKeyForPage(7, 0x04, 1);
  keyboard.setKeyForPage(7, 0x04, 0);
  keyboard.setKeyForPage(7, 0x04, 1);
  keyboard.setKeyForPage(7, 0x04, 1);  // pressed again without a release
  keyboard.setKeyForPage(7, 0x04, 0);
  EXPECT_EQ(
      keysPosted(),
      (std::vector<Key>{{KEY_A, 1}, {KEY_A, 0}, {KEY_A, 1}, {KEY_A, 2, 0, true}, {KEY_A, 0}}));
  EXPECT_TRUE(keyboard.pressedKeys().empty());
}

TEST_F(KeyboardTest, ModifierFlagsApplyWhileTheModifierIsHeld) {
  keyboard.setKeyForPage(7, 0xE1, 1);  // left shift
  keyboard.setKeyForPage(7, 0x04, 1);
  keyboard.setKeyForPage(7, 0x04, 0);
  keyboard.setKeyForPage(7, 0xE1, 0);
  keyboard.setKeyForPage(7, 0x04, 1);
  keyboard.setKeyForPage(7, 0xE6, 1);  // right alt
  keyboard.setKeyForPage(7, 0xE4, 1);  // right control: not a modifier row
  keyboard.setKeyForPage(7, 0x05, 1);
  EXPECT_EQ(keysPosted(), (std::vector<Key>{{KEY_LEFTSHIFT, 1, kShiftFlag},
                                            {KEY_A, 1, kShiftFlag},
                                            {KEY_A, 0, kShiftFlag},
                                            {KEY_LEFTSHIFT, 0, 0},
                                            {KEY_A, 1, 0},
                                            {KEY_RIGHTALT, 1, kAlternateFlag},
                                            {KEY_RIGHTCTRL, 1, kAlternateFlag},
                                            {KEY_B, 1, kAlternateFlag}}));
  EXPECT_EQ(keyboard.flags(), kAlternateFlag);
}

TEST_F(KeyboardTest, SpecialKeysArePlainKeyEvents) {
  keyboard.setKeyForPage(7, 0x7F, 1);  // mute: a special key although on the keyboard page
  keyboard.setKeyForPage(7, 0x7F, 1);  // no repeat mark on special keys
  keyboard.setKeyForPage(7, 0x7F, 0);
  keyboard.setKeyForPage(7, 0xE1, 1);  // shift does not reach special keys
  keyboard.setKeyForPage(12, 0xE9, 1);
  keyboard.setKeyForPage(12, 0xE9, 0);
  keyboard.setKeyForPage(12, 0xEA, 1);
  keyboard.setKeyForPage(12, 0xEA, 0);
  keyboard.setKeyForPage(12, 0xCD, 1);
  keyboard.setKeyForPage(12, 0xB8, 1);
  EXPECT_EQ(keysPosted(), (std::vector<Key>{{KEY_MUTE, 1},
                                            {KEY_MUTE, 1},
                                            {KEY_MUTE, 0},
                                            {KEY_LEFTSHIFT, 1, kShiftFlag},
                                            {KEY_VOLUMEUP, 1},
                                            {KEY_VOLUMEUP, 0},
                                            {KEY_VOLUMEDOWN, 1},
                                            {KEY_VOLUMEDOWN, 0},
                                            {KEY_PLAYPAUSE, 1},
                                            {KEY_EJECTCD, 1}}));
}

TEST_F(KeyboardTest, UsagesWithoutAKeyPostNothingAndSayWhy) {
  keyboard.setKeyForPage(12, 0x30, 1);  // consumer power: no special key
  keyboard.setKeyForPage(12, 0x30, 1);
  keyboard.setKeyForPage(7, 0xD7, 1);  // no Linux key; must not turn into KEY_A
  keyboard.setKeyForPage(5, 0x0C, 1);  // the horizontal wheel's page and usage
  keyboard.setKeyForPage(3, 0x01, 1);
  EXPECT_TRUE(output->events().empty());
  const auto said = messages.messages();
  ASSERT_EQ(said.size(), 4u) << messages.joined();  // once per key
  EXPECT_EQ(said[0],
            "no key posted for HID page 12 usage 0x30: it is not a media, volume, brightness "
            "or eject key");
  EXPECT_EQ(said[1], "no key posted for HID page 7 usage 0xD7: it has no Linux key");
  // The record of pressed keys still follows the presses, as for every key.
  EXPECT_EQ(keyboard.pressedKeys(), (std::set<std::uint32_t>{0x30001, 0x5000C, 0x700D7, 0xC0030}));
}

TEST_F(KeyboardTest, SystemKeyPageGoesThroughTheKeymap) {
  keyboard.setKeyForPage(5, 0x0D, 1);
  keyboard.setKeyForPage(5, 0x0D, 1);
  keyboard.setKeyForPage(5, 0x0E, 0);
  EXPECT_EQ(keysPosted(),
            (std::vector<Key>{{KEY_SCALE, 1}, {KEY_SCALE, 2, 0, true}, {KEY_DASHBOARD, 0}}));
}

TEST_F(KeyboardTest, ResetReleasesEveryHeldKeyTheWayItWasPressed) {
  keyboard.setKeyForPage(7, 0xE1, 1);
  keyboard.setKeyForPage(7, 0x04, 1);
  keyboard.setKeyForPage(12, 0xE9, 1);  // a held volume key would repeat without end
  keyboard.setKeyForPage(7, 0x7F, 1);
  keyboard.setKeyForPage(7, 0x05, 1);
  keyboard.setKeyForPage(7, 0x05, 0);
  output->clear();
  keyboard.resetKeys();
  // In key order: page 7 before page 12, usages ascending.
  EXPECT_EQ(keysPosted(),
            (std::vector<Key>{
                {KEY_A, 0, kShiftFlag}, {KEY_MUTE, 0}, {KEY_LEFTSHIFT, 0, 0}, {KEY_VOLUMEUP, 0}}));
  EXPECT_EQ(keyboard.flags(), 0u);
  EXPECT_EQ(keyboard.pressedKeys().size(), 4u) << "the record is kept";
}

TEST_F(KeyboardTest, LinuxKeyCallsAndTheSharedOutput) {
  keyboard.setLinuxKey(KEY_LEFTCTRL, 1, false);
  keyboard.setLinuxKey(KEY_C, 1, true);
  keyboard.postLinuxKey(KEY_C, 5);                  // plain: no flags, no repeat, value normalised
  keyboard.setLinuxKey(0x10000 | KEY_C, 0, false);  // only the low 16 bits count
  keyboard.setLinuxKey(0xFFFF, 1, false);
  EXPECT_EQ(keysPosted(), (std::vector<Key>{{KEY_LEFTCTRL, 1, kControlFlag},
                                            {KEY_C, 2, kControlFlag, true},
                                            {KEY_C, 1, 0},
                                            {KEY_C, 0, kControlFlag}}));
  EXPECT_EQ(messages.messages().size(), 1u) << messages.joined();

  auto shared = std::make_shared<RecordingOutput>();
  setSharedOutput(shared);
  ZVKeyboard{}.setKeyForPage(7, 0x28, 1);
  setSharedOutput(nullptr);
  ASSERT_EQ(shared->size(), 1u);
  EXPECT_EQ(describe(shared->events()[0]), "keyboard EV_KEY KEY_ENTER 1");
}

}  // namespace
}  // namespace zv::output
