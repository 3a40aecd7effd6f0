// The profile's half of the engine: what a load sets up, the button state with latching
// controls, the choice of shift state, the store hook, reloading and destroying a
// profile while its commands run, the end of the process, and the demo profile end to
// end.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "EngineTestSupport.h"
#include "engine/ButtonState.h"
#include "engine/CommandThreads.h"
#include "profile/NodeText.h"

namespace zv::engine::test {
namespace {

using namespace std::chrono_literals;

TEST(Profile, LoadChoosesTheControllerAndTakesTheHeldElements) {
  testing::EngineHarness h;
  h.driver->setElementMap({{button(1), 1}, {button(9), 1}, {0x10030, 50}});
  const std::string controls =
      "[controls [button=0x90002 latched=false ] [button=0x90009 latched=TRUE ] ]";
  auto profile = h.load(
      "[profile=Test [controller=DemoMouse [shift={A} name=First ] ] "
      "[controller=Other [shift={B} name=Other ] ] "
      "[controller=DemoMouse " +
      controls + " [shift={C} name=Last ] ] ]");
  ASSERT_TRUE(profile);
  EXPECT_TRUE(profile->loaded());
  EXPECT_EQ(profile->currentShiftState()->name(), "Last") << "the last controller for the device";
  EXPECT_EQ(profile->latchableButtons(), (std::map<std::uint32_t, bool>{{button(9), true}}));
  EXPECT_EQ(profile->buttonState(), (ButtonState{{button(1), 1}, {0x10030, 50}}))
      << "held values of the elements that do not latch";

  // No controller for the device: no shift state, events change only the button state.
  profile = h.load("[profile=Test [controller=Other [shift={A} name=Other " +
                   buttonTrigger(button(1), block(keyTap(kA))) + " ] ] ]");
  h.driver->clear();
  EXPECT_TRUE(profile->loaded());
  EXPECT_FALSE(profile->currentController());
  h.event(button(2), 1);
  EXPECT_EQ(profile->buttonState().at(button(2)), 1);
  EXPECT_FALSE(profile->currentShiftState());
  EXPECT_TRUE(h.driver->calls().empty());

  // A prototype without the member "profile" builds the tree but does not load.
  json::DictionaryPtr prototype = testing::bundledPrototype();
  prototype->erase("profile");
  auto json = profile::tevnodes2json("[profile=Test ]", json::Value(testing::bundledPrototype()));
  ASSERT_TRUE(json);
  auto corrupt = engine::ZVProfile::create();
  EXPECT_FALSE(corrupt->loadFromJSON(json->asDictionary(), prototype, h.device));
  EXPECT_FALSE(corrupt->loaded());
  EXPECT_FALSE(corrupt->loadFromJSON(nullptr, prototype, h.device));
}

TEST(Profile, LatchingButtonsAndRepeatedValues) {
  testing::EngineHarness h;
  ASSERT_TRUE(h.load(
      profileText(shift(1, "Normal", buttonTrigger(button(1), block(keyTap(kA)))) +
                  shift(2, "Locked",
                        selectionSet({button(9)}) + buttonTrigger(button(1), block(keyTap(kB)))))));
  auto state = [&] { return h.profile->currentShiftState()->name(); };
  auto held = [&](unsigned n) {
    auto it = h.profile->buttonState().find(button(n));
    return it == h.profile->buttonState().end() ? -1 : it->second;
  };

  // A latching button toggles on each press; its release changes nothing.
  h.event(button(9), 1);
  EXPECT_EQ(held(9), 1);
  EXPECT_EQ(state(), "Locked");
  h.event(button(9), 0);
  EXPECT_EQ(held(9), 1);
  EXPECT_EQ(state(), "Locked");
  h.event(button(9), 1);
  EXPECT_EQ(held(9), 0);
  EXPECT_EQ(state(), "Normal");
  h.event(button(9), 0);

  // The same value twice for a plain button is ignored entirely: one run, no driver calls.
  h.driver->clear();
  h.event(button(1), 0);  // released while never pressed: the same as absent
  EXPECT_EQ(held(1), -1);
  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  h.event(button(1), 1);
  EXPECT_EQ(commandFor(*h.profile, button(1))->runCount(), 1u);
  h.event(button(1), 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_A 0"}));
  EXPECT_TRUE(h.driver->calls().empty());
}

TEST(Profile, ShiftStateIndexAndTheStore) {
  testing::EngineHarness h;
  ASSERT_TRUE(h.load(profileText(shift(1, "Normal", buttonTrigger(button(1), block(keyTap(kA)))) +
                                 shift(2, "Second", selectionSet({button(14)})))));
  EXPECT_EQ(h.profile->shiftStateIdx(), -1);
  h.profile->setShiftState(1);
  EXPECT_EQ(h.profile->currentShiftState()->name(), "Second");
  EXPECT_EQ(h.profile->shiftStateIdx(), -1) << "setShiftState does not record the index";
  h.profile->setShiftState(7);  // out of range: nothing
  h.profile->setShiftState(-2);
  EXPECT_EQ(h.profile->currentShiftState()->name(), "Second");
  h.profile->setShiftStateIdx(0);
  h.profile->setShiftState(0);  // equals the index: nothing
  EXPECT_EQ(h.profile->currentShiftState()->name(), "Second");

  // The store decides which profile is active, by path.
  EXPECT_TRUE(h.profile->isActive());
  EXPECT_EQ(h.store->currentProfile(), h.profile);
  auto other = engine::ZVProfile::create();
  EXPECT_FALSE(other->isActive()) << "a profile without path and device";
  other->setPath(h.profile->path());
  EXPECT_FALSE(other->isActive()) << "a profile of no device";
  h.profile->setPath(std::nullopt);
  EXPECT_FALSE(h.profile->isActive());
}

TEST(Profile, TheHarnessWritesOnlyIntoItsScratchFolder) {
  const std::filesystem::path source = testing::demoBundlePath();
  testing::EngineHarness h;
  ASSERT_TRUE(h.loadDemo("Default.pr0"));
  EXPECT_EQ(h.device->bundle().bundlePath(), h.scratch.path("DemoMouse.bundle"));
  std::string error;
  ASSERT_TRUE(h.profile->save(&error)) << error;
  EXPECT_EQ(h.profile->path(), h.scratch.path("profiles/Default.pr0"));
  EXPECT_TRUE(std::filesystem::exists(h.scratch.path("profiles/Default.pr0")));
  EXPECT_FALSE(std::filesystem::exists(source.parent_path().parent_path() / "profiles"));
}

// Moves the clock on whenever a run waits, until every run has ended.
void drain(testing::EngineHarness& h) {
  while (!engine::CommandThreads::shared().waitIdle(0ms)) {
    if (h.clock->waitForWaiters(1, 10ms)) h.advance(100ms);
  }
}

TEST(Profile, ReloadingOrDestroyingItWhileCommandsRun) {
  testing::EngineHarness h;
  const std::string text = profileText(
      shift(1, "Normal",
            buttonTrigger(button(1), block(keyTap(kA))) +
                buttonTrigger(button(2), block(action(7, kB, 1, 100) + action(7, kB, 0, 100) +
                                               action(7, kC, 1, 100)) +
                                             block(keyTap(kD), "release"))));
  ASSERT_TRUE(h.load(text));
  auto repeating = commandFor(*h.profile, button(1));
  std::weak_ptr<ZVActionCommand> macro = commandFor(*h.profile, button(2));
  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  h.advance(500ms);  // button 1 repeats
  ASSERT_TRUE(h.settle(1));
  h.event(button(2), 1);  // button 2's macro waits in its first delay
  ASSERT_TRUE(h.settle(2));

  // A reload deactivates the old tree first: both runs are cancelled; the macro's block
  // finishes its actions, no release block runs, every key is released.
  ASSERT_TRUE(h.load(text));
  EXPECT_TRUE(macro.lock()) << "the running command outlives its tree";
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(repeating->runCount(), 0u);
  repeating.reset();
  drain(h);
  EXPECT_FALSE(macro.lock()) << "and is freed with its last run";
  EXPECT_EQ(h.take(),
            (Lines{"KEY_A 1", "KEY_A 2", "KEY_A 0", "KEY_B 1", "KEY_B 0", "KEY_C 1", "KEY_C 0"}));

  // The new tree works; its button state starts again from the device's element map.
  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1"}));

  // Destroyed while button 1 runs and button 2's macro waits: the runs end on the
  // objects they hold.
  repeating = commandFor(*h.profile, button(1));
  h.event(button(2), 1);
  ASSERT_TRUE(h.settle(2));
  std::weak_ptr<engine::ZVProfile> gone = h.profile;
  h.store->setCurrentProfile(nullptr);
  h.profile.reset();
  EXPECT_FALSE(gone.lock());
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(repeating->runCount(), 0u);
  drain(h);
  EXPECT_EQ(h.take(), (Lines{"KEY_A 0", "KEY_B 1", "KEY_B 0", "KEY_C 1", "KEY_C 0"}));
}

TEST(ProfileDeathTest, TheProcessEndsWhileCommandsRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A run waits on a clock that never moves; std::exit must abort it, let it release its
  // key and join its thread before the statics go.
  EXPECT_EXIT(
      {
        alarm(20);  // a hang is a failure, not a stuck test
        testing::EngineHarness h;
        h.output->setListener([](const output::RecordedEvent& event) {
          std::cerr << testing::line(event) << std::endl;
        });
        h.load(profileText(shift(1, "Normal", buttonTrigger(button(1), block(keyTap(kA))))));
        h.event(button(1), 1);
        h.settle(1);
        std::exit(engine::CommandThreads::shared().active() == 1 ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "KEY_A 1\nKEY_A 0\n");
}

TEST(Profile, TheDemoProfileEndToEnd) {
  SharedButtonState::shared().apply(0xFF, 0, nullptr);
  testing::EngineHarness h;
  ASSERT_TRUE(h.loadDemo("Default.pr0"));
  EXPECT_EQ(h.profile->string("profile"), "Default");
  EXPECT_EQ(h.profile->currentShiftState()->name(), "Normal");
  // Normal routes its programmed buttons, the hat and the media-layer buttons; X and Y
  // are the mouse's own motion, so no element is made a pointer axis.
  std::vector<std::uint32_t> overridden;
  for (unsigned b : {4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}) overridden.push_back(button(b));
  overridden.push_back(0x10039);
  std::sort(overridden.begin(), overridden.end());
  EXPECT_EQ(h.driver->overriddenElements(), overridden);
  EXPECT_EQ(h.driver->mouseAxis(1), 0u);
  EXPECT_EQ(h.driver->mouseAxis(2), 0u);

  // Press and release a control; the output of that press.
  auto tap = [&](std::uint32_t element, std::int32_t value = 1) {
    h.event(element, value);
    EXPECT_TRUE(h.settle(1));
    h.event(element, 0);
    EXPECT_TRUE(h.idle());
    return h.take();
  };
  EXPECT_EQ(tap(button(4)), (Lines{"KEY_PAGEDOWN 1", "KEY_PAGEDOWN 0"}));
  EXPECT_EQ(tap(button(7)), (Lines{"KEY_LEFTCTRL 1", "KEY_C 1", "KEY_C 0", "KEY_LEFTCTRL 0"}));
  EXPECT_EQ(tap(button(8)), (Lines{"KEY_PLAYPAUSE 1", "KEY_PLAYPAUSE 0"}));
  EXPECT_EQ(tap(button(11)), (Lines{"REL_WHEEL 3"}));
  EXPECT_EQ(tap(button(12)), (Lines{"REL_WHEEL -3"}));
  EXPECT_EQ(tap(0x10039, 3), (Lines{"KEY_RIGHT 1", "KEY_RIGHT 0"}));
  EXPECT_EQ(tap(button(15)), Lines{});
  EXPECT_EQ(h.workspace->paths(), (std::vector<std::string>{"/tmp/Kinetra Demo.txt"}));
  h.driver->clear();
  EXPECT_EQ(tap(button(13)), Lines{});
  EXPECT_EQ(h.driver->describedCalls(), (Lines{"setButtonStates 0x4", "setButtonStates 0x0"}));

  // Button 9 latches Shift until it is pressed again.
  h.event(button(9), 1);
  ASSERT_TRUE(h.settle(1));
  h.event(button(9), 0);
  EXPECT_EQ(h.take(), (Lines{"KEY_LEFTSHIFT 1"}));
  h.event(button(9), 1);
  ASSERT_TRUE(h.idle());
  h.event(button(9), 0);
  EXPECT_EQ(h.take(), (Lines{"KEY_LEFTSHIFT 0"}));

  // Button 10 types its macro with delays, repeats its held block, and ends with Enter
  // half a second after the release.
  const long long t0 = h.now();
  h.event(button(10), 1);
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(h.settle(1));
    h.advance(25ms);
  }
  ASSERT_TRUE(h.settle(1));  // the hold
  h.advance(500ms);
  ASSERT_TRUE(h.settle(1));  // the held block's 100 ms delay
  h.advance(100ms);
  ASSERT_TRUE(h.settle(1));  // the pause between repetitions
  h.event(button(10), 0);
  ASSERT_TRUE(h.settle(1));
  h.advance(500ms);
  ASSERT_TRUE(h.settle(1));
  h.advance(50ms);
  ASSERT_TRUE(h.idle());
  Lines macro;
  for (const char* line :
       {"0 KEY_H 1", "0 KEY_H 0", "25 KEY_E 1", "25 KEY_E 0", "50 KEY_L 1", "50 KEY_L 0",
        "75 KEY_L 1", "75 KEY_L 0", "100 KEY_O 1", "100 KEY_O 0", "700 KEY_DOT 1",
        "1200 KEY_ENTER 1", "1250 KEY_ENTER 0", "1250 KEY_DOT 0"}) {
    const std::string text(line);
    const auto space = text.find(' ');
    macro.push_back(std::to_string(t0 + std::stoll(text.substr(0, space))) + text.substr(space));
  }
  EXPECT_EQ(h.timedLines(), macro);
  h.output->clear();

  // Holding buttons 14 and 16 selects Media: its shift command mutes, button 4 turns the
  // volume up, button 10 is left to Normal, the hat picks tracks by bands.
  h.driver->clear();
  h.event(button(14), 1);
  h.event(button(16), 1);
  EXPECT_EQ(h.profile->currentShiftState()->name(), "Media");
  // Waiting: the shift command, and button 16's empty command (button 14's was cancelled
  // when Normal was left).
  ASSERT_TRUE(h.settle(2));
  EXPECT_EQ(h.take(), (Lines{"KEY_MUTE 1", "KEY_MUTE 0"}));
  h.event(button(4), 1);
  ASSERT_TRUE(h.settle(3));
  h.event(button(4), 0);
  ASSERT_TRUE(quiet(h));
  ASSERT_EQ(h.lines().size(), 2u);
  EXPECT_EQ(h.take(), (Lines{"KEY_VOLUMEUP 1", "KEY_VOLUMEUP 0"}));
  h.event(0x10039, 7);  // left, in band 8: previous track
  ASSERT_TRUE(h.settle(3));
  h.event(0x10039, 5);  // down, band 5 has no command: stops it
  ASSERT_TRUE(quiet(h));
  ASSERT_EQ(h.lines().size(), 2u);
  EXPECT_EQ(h.take(), (Lines{"KEY_PREVIOUSSONG 1", "KEY_PREVIOUSSONG 0"}));

  // Releasing 16 returns to Normal: the shift command's release block mutes again.
  h.event(button(16), 0);
  EXPECT_EQ(h.profile->currentShiftState()->name(), "Normal");
  h.event(button(14), 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_MUTE 1", "KEY_MUTE 0"}));
}

TEST(Profile, AScriptedSessionOnTheDemoProfile) {
  // Events at given times, the clock moved deadline by deadline in between: the way a
  // tool replays a session without a mouse.
  testing::EngineHarness h;
  ASSERT_TRUE(h.loadDemo("Default.pr0"));
  struct Step {
    long long at;
    std::uint32_t element;
    std::int32_t value;
  };
  const Step script[] = {
      {0, button(4), 1},     {720, button(4), 0},  // Page Down held: repeats from 500 ms
      {1000, 0x10039, 1},    {1050, 0x10039, 0},   // hat up, briefly
      {1100, button(14), 1}, {1100, button(16), 1}, {1200, button(5), 1},
      {1300, button(5), 0},  {1400, button(16), 0}, {1400, button(14), 0},
  };
  for (const Step& step : script) {
    ASSERT_TRUE(h.runTo(step.at));
    h.event(step.element, step.value);
  }
  ASSERT_TRUE(h.runTo(2000));
  EXPECT_TRUE(h.idle());
  EXPECT_EQ(h.timedLines(),
            (Lines{"0 KEY_PAGEDOWN 1", "500 KEY_PAGEDOWN 2", "600 KEY_PAGEDOWN 2",
                   "700 KEY_PAGEDOWN 2", "720 KEY_PAGEDOWN 0", "1000 KEY_UP 1", "1050 KEY_UP 0",
                   "1100 KEY_MUTE 1", "1100 KEY_MUTE 0", "1200 KEY_VOLUMEDOWN 1",
                   "1300 KEY_VOLUMEDOWN 0", "1400 KEY_MUTE 1", "1400 KEY_MUTE 0"}));
}

}  // namespace
}  // namespace zv::engine::test
