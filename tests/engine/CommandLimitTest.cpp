// Bounds on command runs: a press beyond them starts nothing and is logged once per
// burst, and nothing it refused leaves a key down or turns a later event around.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/CommandThreads.h"
#include "log/Log.h"

namespace zv::engine::test {
namespace {

using namespace std::chrono_literals;

// The log's lines at Error and above, for one test.
class ErrorLog {
 public:
  ErrorLog() : previousThreshold_(log::logThreshold()) {
    log::setLogThreshold(static_cast<int>(log::ZVLogLevel::Error));
    previousSink_ = log::setLogSink([this](const log::LogRecord& record) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(record.message);
    });
  }
  ~ErrorLog() {
    log::setLogSink(std::move(previousSink_));
    log::setLogThreshold(previousThreshold_);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::optional<int> previousThreshold_;
  log::LogSink previousSink_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Every key that went down came up as often (auto-repeat marks aside).
void expectEveryKeyReleased(const Lines& lines) {
  std::map<std::string, int> down;
  for (const std::string& line : lines) {
    const auto blank = line.rfind(' ');
    const std::string key = line.substr(0, blank);
    const std::string value = line.substr(blank + 1);
    if (value == "1") ++down[key];
    if (value == "0") --down[key];
  }
  for (const auto& [key, count] : down) EXPECT_EQ(count, 0) << key << " left down";
}

// A macro of 1.5 s: A down, A up after 0.5 s, B down after 1 s, B up after 1.5 s.
std::string longMacro() {
  return block(action(7, kA, 1) + action(7, kA, 0, 500) + action(7, kB, 1, 500) +
               action(7, kB, 0, 500));
}

TEST(CommandLimits, PressesBeyondTheBoundStartNothingAndTheirReleasesDoNothing) {
  testing::EngineHarness h;
  ErrorLog log;
  ASSERT_TRUE(h.load(profileText(
      shift(1, "Normal", buttonTrigger(button(1), longMacro() + block(keyTap(kC), "release"))))));
  auto command = commandFor(*h.profile, button(1));
  const std::size_t refusedBefore = CommandThreads::shared().refused();

  // Pressed and released again and again at one instant: every run still plays its macro.
  for (std::size_t i = 0; i < ZVActionCommand::kMaxRuns; ++i) {
    h.event(button(1), 1);
    h.event(button(1), 0);
  }
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(command->runCount(), ZVActionCommand::kMaxRuns);
  const std::size_t linesAtBound = h.lines().size();
  for (int i = 0; i < 10; ++i) {
    h.event(button(1), 1);
    h.event(button(1), 0);
  }
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(command->runCount(), ZVActionCommand::kMaxRuns);
  EXPECT_EQ(command->refusedRunCount(), 10u);
  EXPECT_EQ(h.lines().size(), linesAtBound) << "a refused press and its release make nothing";
  EXPECT_EQ(CommandThreads::shared().refused(), refusedBefore) << "the process bound is far";
  ASSERT_EQ(log.lines().size(), 1u) << "once per burst";
  EXPECT_NE(log.lines()[0].find("Not starting command \"c\" again: 64 runs of it are going on"),
            std::string::npos)
      << log.lines()[0];

  // The runs play out; each runs its release block (C) once, for 64 presses, not 74.
  ASSERT_TRUE(h.runTo(1500));
  ASSERT_TRUE(h.idle());
  const Lines lines = h.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "KEY_C 1"), 64);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "KEY_B 0"), 64);
  expectEveryKeyReleased(lines);

  // Once drained, presses run again, and a new burst is logged again.
  h.output->clear();
  h.event(button(1), 1);
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1"}));
  for (std::size_t i = 0; i < ZVActionCommand::kMaxRuns; ++i) {
    h.event(button(1), 0);
    h.event(button(1), 1);
  }
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(log.lines().size(), 2u);
  h.event(button(1), 0);
}

TEST(CommandLimits, ALatchedControlWhosePressWasRefusedStartsOnItsNextPress) {
  testing::EngineHarness h;
  ErrorLog log;
  // Button 9 latches: one press starts the command, the next stops it.
  ASSERT_TRUE(h.load(profileText(shift(1, "Normal", buttonTrigger(button(9), longMacro())))));
  auto command = commandFor(*h.profile, button(9));
  for (std::size_t i = 0; i < ZVActionCommand::kMaxRuns; ++i) {
    h.event(button(9), 1);  // starts
    h.event(button(9), 0);
    h.event(button(9), 1);  // stops; the run plays its macro out
    h.event(button(9), 0);
  }
  ASSERT_TRUE(quiet(h));
  ASSERT_EQ(command->runCount(), ZVActionCommand::kMaxRuns);
  h.event(button(9), 1);  // would start: refused
  h.event(button(9), 0);
  EXPECT_EQ(command->refusedRunCount(), 1u);
  ASSERT_TRUE(h.runTo(1500));
  ASSERT_TRUE(h.idle());
  expectEveryKeyReleased(h.lines());

  // The refused press started nothing, so this press starts the command (it is not taken
  // as the press that ends a run that never began), and the one after stops it.
  h.output->clear();
  h.event(button(9), 1);
  h.event(button(9), 0);
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(command->runCount(), 1u);
  EXPECT_EQ(command->status(), kCommandStarted);
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1"}));
  h.event(button(9), 1);
  h.event(button(9), 0);
  EXPECT_EQ(command->status(), kCommandStopped);
  ASSERT_TRUE(h.runTo(3000));
  ASSERT_TRUE(h.idle());
}

TEST(CommandLimits, TheProcessBoundHoldsAcrossCommands) {
  testing::EngineHarness h;
  ErrorLog log;
  constexpr unsigned kButtons = CommandThreads::kMaxActive / ZVActionCommand::kMaxRuns;
  std::string triggers;
  for (unsigned b = 1; b <= kButtons + 1; ++b) triggers += buttonTrigger(button(b), longMacro());
  ASSERT_TRUE(h.load(profileText(shift(1, "Normal", triggers))));
  const std::size_t refusedBefore = CommandThreads::shared().refused();
  for (unsigned b = 1; b <= kButtons; ++b) {
    for (std::size_t i = 0; i < ZVActionCommand::kMaxRuns; ++i) {
      h.event(button(b), 1);
      h.event(button(b), 0);
    }
  }
  ASSERT_TRUE(quiet(h));
  EXPECT_EQ(CommandThreads::shared().active(), CommandThreads::kMaxActive);
  // Another command, below its own bound, is refused by the process's.
  h.event(button(kButtons + 1), 1);
  h.event(button(kButtons + 1), 0);
  h.event(button(kButtons + 1), 1);
  h.event(button(kButtons + 1), 0);
  EXPECT_EQ(commandFor(*h.profile, button(kButtons + 1))->runCount(), 0u);
  EXPECT_EQ(CommandThreads::shared().refused(), refusedBefore + 2);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("256 runs of commands are already going on"), std::string::npos)
      << log.lines()[0];
  ASSERT_TRUE(h.runTo(1500));
  ASSERT_TRUE(h.idle());
  expectEveryKeyReleased(h.lines());
}

TEST(CommandLimits, TenThousandPressesOfALongMacro) {
  // A press and a release every 10 ms for 100 s, on a macro of 1.5 s: 150 runs would
  // overlap; the bound keeps 64 at most, and the storm is logged once.
  testing::EngineHarness h;
  ErrorLog log;
  ASSERT_TRUE(h.load(profileText(
      shift(1, "Normal", buttonTrigger(button(1), longMacro() + block(keyTap(kC), "release"))))));
  auto command = commandFor(*h.profile, button(1));
  std::size_t most = 0;
  for (int press = 0; press < 10'000; ++press) {
    h.event(button(1), 1);
    h.event(button(1), 0);
    most = std::max(most, command->runCount());
    ASSERT_TRUE(h.runTo(10LL * (press + 1))) << "press " << press;
  }
  EXPECT_EQ(most, ZVActionCommand::kMaxRuns);
  const std::size_t refused = command->refusedRunCount();
  EXPECT_GT(refused, 5'000u);
  EXPECT_EQ(log.lines().size(), 1u);
  ASSERT_TRUE(h.runTo(100'000 + 1'500));
  ASSERT_TRUE(h.idle());
  const Lines lines = h.lines();
  // Every accepted run played its whole macro and its release block.
  const auto accepted = static_cast<long>(10'000 - refused);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "KEY_A 1"), accepted);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "KEY_C 1"), accepted);
  expectEveryKeyReleased(lines);
}

}  // namespace
}  // namespace zv::engine::test
