#include <gtest/gtest.h>

#include <thread>

#include "engine/ButtonState.h"

namespace zv::engine {
namespace {

TEST(SharedButtonState, OnlyChangesAreSent) {
  SharedButtonState buttons;
  output::RecordingButtonStateSink sink;
  struct Step {
    std::uint32_t usage;
    std::int32_t value;
    bool sent;
    std::uint8_t state;
  };
  const Step steps[] = {
      {0x01, 1, true, 0x01},                            // press button 1
      {0x01, 1, false, 0x01},                           // pressed again: unchanged, the run ends
      {0x02, 255, true, 0x03},                          // any non-zero value presses
      {0x01, 0, true, 0x02},   {0x04, 0, false, 0x02},  // releasing a button that is not held
      {0x105, 1, true, 0x07},                           // only the low eight bits count
      {0xFF, 0, true, 0x00},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(buttons.apply(step.usage, step.value, &sink), step.sent)
        << "usage 0x" << std::hex << step.usage << " value " << std::dec << step.value;
    EXPECT_EQ(buttons.state(), step.state);
    EXPECT_EQ(buttons.lastSent(), step.state);
  }
  EXPECT_EQ(sink.states(), (std::vector<std::uint64_t>{0x01, 0x03, 0x02, 0x07, 0x00}));
  // Without a sink (no device) the state still changes.
  EXPECT_TRUE(buttons.apply(0x08, 1, nullptr));
  EXPECT_EQ(buttons.state(), 0x08);
}

TEST(SharedButtonState, BlocksOnManyThreadsNeitherLoseNorReorderChanges) {
  SharedButtonState buttons;
  output::RecordingButtonStateSink sink;
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::uint32_t mask = 1u << t;
      for (int i = 0; i < kRounds; ++i) {
        EXPECT_TRUE(buttons.apply(mask, 1, &sink));  // only this thread touches its bit
        EXPECT_TRUE(buttons.apply(mask, 0, &sink));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(buttons.state(), 0);
  const auto states = sink.states();
  ASSERT_EQ(states.size(), static_cast<std::size_t>(2 * kThreads * kRounds));
  // Sent in the order made: each state differs from the one before by exactly one bit,
  // and the last one sent is the final state.
  std::uint64_t previous = 0;
  for (std::size_t i = 0; i < states.size(); ++i) {
    const std::uint64_t changed = states[i] ^ previous;
    ASSERT_TRUE(changed != 0 && (changed & (changed - 1)) == 0) << "send " << i;
    previous = states[i];
  }
  EXPECT_EQ(states.back(), 0u);
}

}  // namespace
}  // namespace zv::engine
