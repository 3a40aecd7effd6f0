// Triggers, bands and commands: which band a value selects, when commands start and
// stop, and what a command run does over a press (pressed block, hold, repetition,
// release, cancel), driven by a manual clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineTestSupport.h"
#include "engine/CommandThreads.h"

namespace zv::engine::test {
namespace {

using namespace std::chrono_literals;

TEST(CommandTrigger, SingleBandStartsOnPressStopsOnReleaseAndIgnoresRepeats) {
  testing::EngineHarness h;
  ASSERT_TRUE(h.load(profileText(shift(1, "Normal", buttonTrigger(button(1), block(keyTap(kA)))))));
  auto trigger = triggerFor(*h.profile, button(1));
  auto command = commandFor(*h.profile, button(1));
  ASSERT_TRUE(trigger && command);
  EXPECT_GE(CommandThreads::shared().ready(), 1u) << "a thread waits for the loaded command";

  trigger->setValue(1);
  trigger->setValue(1);  // the same value again: nothing
  EXPECT_EQ(trigger->currentCommand(), command) << "current as soon as it is started";
  ASSERT_TRUE(h.settle(1));
  EXPECT_EQ(command->runCount(), 1u) << "value 1 twice starts the command once";
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1"}));

  trigger->setValue(0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_A 0"}));
  EXPECT_EQ(command->status(), kCommandStopped);

  // A release that follows the press at once, before the run's thread has done
  // anything, still stops that run: no command is left running.
  for (int i = 0; i < 50; ++i) {
    trigger->setValue(1);
    trigger->setValue(0);
  }
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(command->runCount(), 0u);
}

TEST(CommandTrigger, BandSelectionOverSeveralBandsAndTheHat) {
  testing::EngineHarness h;
  const std::string bands = band(10, command(block(action(7, kX, 1)))) +
                            band(20, command(block(action(7, kY, 1)))) +
                            band(30, command(block(action(7, kZ, 1))));
  const std::string hatBands =
      band(0, command(block(action(7, kA, 1)))) + band(1, command(block(action(7, kB, 1))));
  ASSERT_TRUE(
      h.load(profileText(shift(1, "Normal",
                               trigger(0x10030, bands, "role=bands") + trigger(0x10039, hatBands) +
                                   trigger(0x10038, hatBands)))));
  auto axis = triggerFor(*h.profile, 0x10030);
  ASSERT_TRUE(axis);
  EXPECT_EQ(axis->bandForValue(5), axis->bands()[0]);
  EXPECT_EQ(axis->bandForValue(10), axis->bands()[0]);
  EXPECT_EQ(axis->bandForValue(15), axis->bands()[1]);
  EXPECT_EQ(axis->bandForValue(35), nullptr);

  h.event(0x10030, 15);  // the second band
  ASSERT_TRUE(h.settle(1));
  EXPECT_EQ(h.take(), (Lines{"KEY_Y 1"}));
  h.event(0x10030, 12);  // still the second band: nothing
  h.event(0x10030, 35);  // no band: the running command stops
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_Y 0"}));
  EXPECT_EQ(axis->lastValue(), 35);

  // The hat at 0 selects nothing, even with a band of threshold 0; the wheel (same
  // bands) at 0 selects that band.
  h.event(0x10039, 1);
  ASSERT_TRUE(h.settle(1));
  h.event(0x10039, 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_B 1", "KEY_B 0"}));
  h.event(0x10038, 1);
  ASSERT_TRUE(h.settle(1));
  EXPECT_EQ(h.take(), (Lines{"KEY_B 1"}));
  h.event(0x10038, 0);  // B's run ends while A's starts, each on its own thread
  ASSERT_TRUE(quiet(h));
  ASSERT_EQ(h.lines().size(), 2u);
  Lines both = h.take();
  std::sort(both.begin(), both.end());
  EXPECT_EQ(both, (Lines{"KEY_A 1", "KEY_B 0"}));
}

TEST(CommandTrigger, LatchedTriggerRunsFromOnePressToTheNext) {
  testing::EngineHarness h;
  // Button 9 is a latching control.
  ASSERT_TRUE(h.load(
      profileText(shift(1, "Normal",
                        buttonTrigger(button(9), block(action(7, 0xe1, 1)) +
                                                     block(action(7, 0xe1, 0), "release"))))));
  ASSERT_TRUE(triggerFor(*h.profile, button(9))->latched());
  EXPECT_FALSE(triggerFor(*h.profile, button(9))->currentCommand());

  h.event(button(9), 1);  // starts
  ASSERT_TRUE(h.settle(1));
  h.event(button(9), 0);  // keeps running, and its one-action block repeats after the hold
  h.advance(500ms);
  ASSERT_TRUE(h.settle(1));
  EXPECT_EQ(h.take(), (Lines{"KEY_LEFTSHIFT 1", "KEY_LEFTSHIFT 2"}));
  h.event(button(9), 1);  // stops: the release block runs
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_LEFTSHIFT 0"}));
  h.event(button(9), 0);  // starts nothing
  ASSERT_TRUE(h.idle());
  EXPECT_TRUE(h.lines().empty());
  h.event(button(9), 1);  // and the cycle begins again
  ASSERT_TRUE(h.settle(1));
  EXPECT_EQ(h.take(), (Lines{"KEY_LEFTSHIFT 1"}));
}

TEST(ActionCommand, PressHoldRepeatAndRelease) {
  testing::EngineHarness h;
  ASSERT_TRUE(h.load(profileText(
      shift(1, "Normal",
            buttonTrigger(button(1), block(keyTap(kA))) +
                buttonTrigger(button(2), block(keyTap(kB)) + block(keyTap(kC), "release")) +
                buttonTrigger(button(3), block(keyTap(kD) + action(7, kX, 1))) +
                buttonTrigger(button(4), block(action(7, kX, 1)) + block(keyTap(kY), "repeat") +
                                             block(action(7, kZ, 1, 200), "release"))))));

  // A short press: the key goes down (its release is left to the button's release), no
  // repetition.
  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  h.advance(300ms);
  ASSERT_TRUE(h.settle(1));
  h.event(button(1), 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_A 0"}));

  // Held: the keystroke repeats every 0.1 s after 0.5 s, marked as auto-repeat.
  const long long t0 = h.now();
  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  for (int i = 0; i < 3; ++i) {
    h.advance(i == 0 ? 500ms : 100ms);
    ASSERT_TRUE(h.settle(1));
  }
  h.event(button(1), 0);
  ASSERT_TRUE(h.idle());
  Lines expected;
  for (long long t : {0, 500, 600, 700}) {
    expected.push_back(std::to_string(t0 + t) + " KEY_A " + (t == 0 ? "1" : "2"));
  }
  expected.push_back(std::to_string(t0 + 700) + " KEY_A 0");
  EXPECT_EQ(h.timedLines(), expected);
  h.output->clear();

  // Press and release blocks: the press block whole, then the release block.
  h.event(button(2), 1);
  ASSERT_TRUE(h.settle(1));
  h.event(button(2), 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_B 1", "KEY_C 1", "KEY_C 0", "KEY_B 0"}));

  // A pressed block of three actions does not repeat: the run only waits.
  h.event(button(3), 1);
  ASSERT_TRUE(h.settle(1));
  for (int i = 0; i < 4; ++i) {
    h.advance(i == 0 ? 500ms : 100ms);
    ASSERT_TRUE(h.settle(1));
  }
  h.event(button(3), 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_D 1", "KEY_D 0", "KEY_X 1", "KEY_X 0"}));

  // A held block repeats instead of the pressed block; the release block waits its delay.
  h.event(button(4), 1);
  ASSERT_TRUE(h.settle(1));
  h.advance(500ms);
  ASSERT_TRUE(h.settle(1));
  h.advance(100ms);
  ASSERT_TRUE(h.settle(1));
  h.event(button(4), 0);
  ASSERT_TRUE(h.settle(1));
  h.advance(200ms);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(),
            (Lines{"KEY_X 1", "KEY_Y 1", "KEY_Y 2", "KEY_Z 1", "KEY_X 0", "KEY_Y 0", "KEY_Z 0"}));
}

TEST(ActionCommand, CancelSkipsTheReleaseBlockStopRunsIt) {
  testing::EngineHarness h;
  ASSERT_TRUE(h.load(profileText(
      shift(1, "Normal",
            buttonTrigger(button(1), block(action(7, kA, 1)) + block(keyTap(kB), "release"))))));
  auto trigger = triggerFor(*h.profile, button(1));
  auto command = commandFor(*h.profile, button(1));

  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  trigger->cancel();
  ASSERT_TRUE(h.idle());
  // No release block; the key the run left down is still released.
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_A 0"}));
  EXPECT_EQ(command->status(), kCommandCancelled);
  h.event(button(1), 0);

  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  command->stop();
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_B 1", "KEY_B 0", "KEY_A 0"}));
  EXPECT_EQ(command->status(), kCommandStopped);

  // A command run on the calling thread returns once another thread stops it.
  std::thread stopper([&] {
    ASSERT_TRUE(h.settle(1));
    command->stop();
  });
  command->start();
  stopper.join();
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_B 1", "KEY_B 0", "KEY_A 0"}));
}

TEST(ActionCommand, StartedAgainWhileItsEarlierRunFinishes) {
  testing::EngineHarness h;
  ASSERT_TRUE(h.load(profileText(shift(
      1, "Normal",
      buttonTrigger(button(1), block(action(7, kA, 1)) +
                                   block(action(7, kB, 1, 200) + action(7, kB, 0), "release"))))));
  auto command = commandFor(*h.profile, button(1));
  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  h.event(button(1), 0);  // the first run waits 200 ms in its release block
  ASSERT_TRUE(h.settle(1));
  h.event(button(1), 1);  // the same command again, at once, as a run of its own
  ASSERT_TRUE(h.settle(2));
  EXPECT_EQ(command->runCount(), 2u);
  h.advance(200ms);  // the first run finishes its release; the second keeps holding
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(command->runCount(), 1u);
  EXPECT_EQ(command->status(), kCommandStarted);
  ASSERT_TRUE(h.settle(1));
  h.advance(300ms);  // the second run's hold is over: its one-action block repeats
  ASSERT_TRUE(h.settle(1));
  h.event(button(1), 0);
  ASSERT_TRUE(h.settle(1));
  h.advance(200ms);
  ASSERT_TRUE(h.idle());
  // Each run has its own keyboard: the second run's A is a new press (not an
  // auto-repeat), and each run releases its own keys when it ends.
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_A 1", "KEY_B 1", "KEY_B 0", "KEY_A 0", "KEY_A 2",
                             "KEY_B 1", "KEY_B 0", "KEY_A 0"}));
}

TEST(ActionCommand, DelegateHearsEachRunOfATrigger) {
  testing::EngineHarness h;
  auto delegate = std::make_shared<RecordingDelegate>();
  ASSERT_TRUE(h.load(profileText(shift(1, "Normal", buttonTrigger(button(1), block(keyTap(kA)))))));
  h.profile->setDelegate(delegate);
  h.profile->setUseDelegateForActions(true);
  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  h.event(button(1), 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(delegate->heard(), (Lines{"begin", "action 7 4 1 ''", "action 7 4 0 ''", "end"}));

  // Held: the delegate hears what the keyboard would type — the key down once, its
  // auto-repeats marked 2, the release when the button is let go — never taps.
  h.event(button(1), 1);
  ASSERT_TRUE(h.settle(1));
  h.advance(500ms);  // the hold is over: the press block repeats
  ASSERT_TRUE(h.settle(1));
  h.advance(100ms);
  ASSERT_TRUE(h.settle(1));
  h.event(button(1), 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(delegate->heard(),
            (Lines{"begin", "action 7 4 1 ''", "action 7 4 0 ''", "end", "begin", "action 7 4 1 ''",
                   "action 7 4 2 ''", "action 7 4 2 ''", "action 7 4 0 ''", "end"}));
  EXPECT_TRUE(h.lines().empty());
}

}  // namespace
}  // namespace zv::engine::test
