// Action blocks run on their own: delays on the profile's clock, the dispatch of each
// kind of action, the mouse-button state shared by every block, the repeat case and
// delegate mode.
#include <gtest/gtest.h>

#include <thread>

#include "EngineTestSupport.h"
#include "engine/ButtonState.h"
#include "output/ZVKeyboard.h"
#include "output/ZVMouse.h"

namespace zv::engine::test {
namespace {

using namespace std::chrono_literals;

class ActionBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The button state is process-wide and never reset: start from every button up.
    SharedButtonState::shared().apply(0xFF, 0, nullptr);
  }

  // Loads one button trigger per block and answers the pressed block of button n.
  std::shared_ptr<ZVActionBlock> blockOf(unsigned n) {
    auto command = commandFor(*h.profile, button(n));
    return command ? command->pressedActionBlock() : nullptr;
  }
  void loadBlocks(const std::vector<std::string>& actionLists) {
    std::string triggers;
    for (std::size_t i = 0; i < actionLists.size(); ++i) {
      triggers += buttonTrigger(button(static_cast<unsigned>(i + 1)), block(actionLists[i]));
    }
    ASSERT_TRUE(h.load(profileText(shift(1, "Normal", triggers))));
    h.driver->clear();
  }
  // Runs a block on a thread of its own (its delays wait on the manual clock).
  std::thread runAsync(std::shared_ptr<ZVActionBlock> b, bool repeat = false) {
    return std::thread([this, b, repeat] { b->run(keyboard, mouse, repeat); });
  }

  testing::EngineHarness h;
  output::ZVKeyboard keyboard{h.output};
  output::ZVMouse mouse{h.output};
};

TEST_F(ActionBlockTest, EmptyBlockAndDelays) {
  loadBlocks({"", action(7, kA, 1) + action(7, kA, 0) + action(7, kB, 1, 500) + action(7, kB, 0)});

  // No actions: the run returns at once, started.
  auto empty = blockOf(1);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->actionCount(), 0u);
  empty->run(keyboard, mouse, false);
  EXPECT_EQ(empty->status(), kCommandStarted);
  EXPECT_TRUE(h.lines().empty());

  // Time 0 follows at once; time 500 waits exactly half a second of the profile's clock.
  std::thread run = runAsync(blockOf(2));
  ASSERT_TRUE(h.settle(1));
  EXPECT_EQ(h.timedLines(), (Lines{"0 KEY_A 1", "0 KEY_A 0"}));
  h.advance(499ms);
  ASSERT_TRUE(h.settle(1)) << "still waiting one millisecond short";
  EXPECT_EQ(h.lines().size(), 2u);
  h.advance(1ms);
  run.join();
  EXPECT_EQ(h.timedLines(), (Lines{"0 KEY_A 1", "0 KEY_A 0", "500 KEY_B 1", "500 KEY_B 0"}));
}

TEST_F(ActionBlockTest, WheelPathsAndIgnoredPages) {
  loadBlocks({
      action(1, 0x38, 1) + action(1, 0x38, 255) + action(1, 0x38, 2),  // vertical wheel
      action(5, 0x0c, 1) + action(5, 0x0c, 255),                       // horizontal wheel
      action(2, 1, 1) + action(3, 1, 1) + action(8, 1, 1) + action(7, kC, 1),
      "[string='/tmp/Kinetra notes.txt' ]",
  });
  for (unsigned n = 1; n <= 4; ++n) blockOf(n)->run(keyboard, mouse, false);
  // 255 is the negative direction, anything else positive; horizontal amounts count
  // leftwards, REL_HWHEEL rightwards. Pages 2, 3 and 8 do nothing and do not end the run.
  EXPECT_EQ(h.lines(), (Lines{"REL_WHEEL 3", "REL_WHEEL -3", "REL_WHEEL 3", "REL_HWHEEL -3",
                              "REL_HWHEEL 3", "KEY_C 1"}));
  EXPECT_EQ(h.workspace->paths(), (std::vector<std::string>{"/tmp/Kinetra notes.txt"}));
  EXPECT_TRUE(h.driver->calls().empty());
}

TEST_F(ActionBlockTest, MouseButtonsEndTheRunWhenTheStateDoesNotChange) {
  loadBlocks({
      action(9, 1, 0) + keyTap(kA),      // release of a button that is up
      action(9, 1, 1) + keyTap(kB),      // press button 1, then B
      action(9, 0x104, 0) + keyTap(kC),  // release button 3, which is up
  });
  blockOf(1)->run(keyboard, mouse, false);
  EXPECT_TRUE(h.lines().empty()) << "the key actions after the unchanged state must not run";
  EXPECT_TRUE(h.driver->calls().empty());

  // Two blocks pressing mask 1 one after the other: the second ends at that action.
  blockOf(2)->run(keyboard, mouse, false);
  blockOf(2)->run(keyboard, mouse, false);
  EXPECT_EQ(h.take(), (Lines{"KEY_B 1", "KEY_B 0"}));
  EXPECT_EQ(h.driver->describedCalls(), (Lines{"setButtonStates 0x1"}));

  // Only the low eight bits of the usage count: 0x104 releases button 3, which is up.
  blockOf(3)->run(keyboard, mouse, false);
  EXPECT_TRUE(h.lines().empty());
  EXPECT_EQ(SharedButtonState::shared().state(), 0x01);
  SharedButtonState::shared().apply(1, 0, h.driver.get());
  EXPECT_EQ(h.driver->describedCalls(), (Lines{"setButtonStates 0x1", "setButtonStates 0x0"}));
}

TEST_F(ActionBlockTest, RepeatCaseKeepsTheKeyHeld) {
  loadBlocks({keyTap(kA), keyTap(kB) + action(7, kC, 1)});
  auto two = blockOf(1);
  two->run(keyboard, mouse, true);
  two->run(keyboard, mouse, true);
  // The second press is marked as an auto-repeat; no release between repetitions.
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_A 2"}));
  EXPECT_EQ(keyboard.pressedKeys(), (std::set<std::uint32_t>{0x70000 + kA}));
  two->run(keyboard, mouse, false);
  EXPECT_EQ(h.take(), (Lines{"KEY_A 2", "KEY_A 0"})) << "without repeat the release is performed";

  // Three actions: the repeat case does not apply.
  blockOf(2)->run(keyboard, mouse, true);
  EXPECT_EQ(h.take(), (Lines{"KEY_B 1", "KEY_B 0", "KEY_C 1"}));

  // The public form reads the block's own flag.
  two->setRepeat(true);
  two->startUsingKeyboard(keyboard, mouse);
  two->setRepeat(false);
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1"}));
}

TEST_F(ActionBlockTest, DelegateModeReportsInsteadOfPerforming) {
  auto delegate = std::make_shared<RecordingDelegate>();
  loadBlocks({action(7, kA, 1, 100) + action(9, 1, 1) + "[string=/tmp/doc.txt ]"});
  h.profile->setDelegate(delegate);
  h.profile->setUseDelegateForActions(true);
  std::thread run = runAsync(blockOf(1));
  ASSERT_TRUE(h.settle(1));
  EXPECT_TRUE(delegate->heard().empty()) << "reported only after the action's delay";
  h.advance(100ms);
  run.join();
  EXPECT_EQ(delegate->heard(),
            (Lines{"action 7 4 1 ''", "action 9 1 1 ''", "action 0 0 0 '/tmp/doc.txt'"}));
  EXPECT_TRUE(h.lines().empty());
  EXPECT_TRUE(h.workspace->paths().empty());
  EXPECT_TRUE(h.driver->calls().empty());
  EXPECT_EQ(SharedButtonState::shared().state(), 0) << "delegate mode leaves the buttons alone";
}

TEST_F(ActionBlockTest, StopMarksAndCancelEndsARun) {
  loadBlocks({action(7, kA, 1, 1000) + action(7, kB, 1, 1000)});
  auto b = blockOf(1);

  // stop() does not cut a run short.
  std::thread run = runAsync(b);
  ASSERT_TRUE(h.settle(1));
  b->stop();
  EXPECT_EQ(b->status(), kCommandStopped);
  h.advance(1000ms);
  ASSERT_TRUE(h.settle(1));
  h.advance(1000ms);
  run.join();
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_B 1"}));
  EXPECT_EQ(b->status(), kCommandStopped);

  // cancel() wakes the delay and ends the run before its next action.
  run = runAsync(b);
  ASSERT_TRUE(h.settle(1));
  b->cancel();
  run.join();
  EXPECT_TRUE(h.lines().empty());
  EXPECT_EQ(b->status(), kCommandCancelled);
}

}  // namespace
}  // namespace zv::engine::test
