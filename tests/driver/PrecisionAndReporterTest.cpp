#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "DriverTestSupport.h"
#include "core/ZVMouseReporter.h"
#include "core/ZVPrecisionFilter.h"

namespace zv::driver {
namespace {

using namespace std::chrono_literals;
using testing::PointerEvent;
using testing::PointerRecorder;

TEST(ZVPrecisionFilter, Table) {
  const struct {
    std::int32_t percent, input, output;
  } cases[] = {
      {50, -7, -3},
      {50, 7, 3},
      {5, 100, 1},
      {0, -100, 0},
      {5, -100, -1},
      {5, 0, 0},
      {9, 1000, 1},
      {-20, -4, -1},
      {10, 19, 1},
      {10, -19, -1},
      {100, -32768, -32768},
      {50, 32767, 16383},
      {33, 100, 33},
      // Single precision, factor first: 0.53f is just below 0.53, so 100 * 0.53f truncates
      // to 52 (exact arithmetic would give 53).
      {53, 100, 52},
      {30, 10, 3},
      {200, 1 << 30, INT32_MAX},
      {200, -(1 << 30), INT32_MIN},
  };
  for (const auto& c : cases) {
    ZVPrecisionFilter filter;
    filter.SetPercent(c.percent);
    filter.Reset();
    EXPECT_EQ(filter.FilterInput(c.input), c.output) << c.input << " at " << c.percent << " %";
  }
  EXPECT_EQ(ZVPrecisionFilter().percent(), 50) << "starting percentage";
}

TEST(ZVMouseReporter, ManualClockStepsEveryTenMillisecondsWhileDeflected) {
  PointerRecorder recorder;
  ZVMouseReporter reporter(std::ref(recorder), ZVMouseReporter::Mode::manual);
  reporter.SetXYAxis(0, 0, 1);
  reporter.advance(100ms);
  EXPECT_TRUE(recorder.events().empty()) << "no work while idle";

  reporter.SetXYAxis(3, 0, 1);  // t = 100: at once, then 110, 120, 130, 140
  reporter.advance(50ms);
  reporter.SetXYAxis(0, 0, 1);  // t = 150: the step due now finds no motion
  reporter.advance(100ms);
  EXPECT_EQ(recorder.events(), std::vector<PointerEvent>(5, {3, 0, 1}));

  // A change while stepping is picked up by the next step, not at once.
  reporter.SetXYAxis(-2, 4, 0x8001);  // t = 250
  reporter.advance(5ms);
  reporter.SetXYAxis(1, 1, 0);
  reporter.advance(10ms);  // the step due at t = 260
  const auto events = recorder.events();
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[5], (PointerEvent{-2, 4, 0x8001}));
  EXPECT_EQ(events[6], (PointerEvent{1, 1, 0}));
}

TEST(ZVMouseReporter, ThreadMakesAboutFiveEventsInFiftyMilliseconds) {
  PointerRecorder recorder;
  {
    ZVMouseReporter reporter(std::ref(recorder));
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(recorder.events().empty()) << "no work while idle";
    reporter.SetXYAxis(3, 0, 2);
    std::this_thread::sleep_for(50ms);
    reporter.SetXYAxis(0, 0, 2);
    const std::size_t count = recorder.events().size();
    // About five; generous bounds for a loaded two-core machine and sanitizer builds.
    EXPECT_GE(count, 1u);
    EXPECT_LE(count, 7u);
    std::this_thread::sleep_for(40ms);
    const auto events = recorder.events();
    EXPECT_LE(events.size(), count + 1) << "stepping stops once the motion is 0";
    for (const PointerEvent& e : events) EXPECT_EQ(e, (PointerEvent{3, 0, 2}));
  }
}

TEST(ZVMouseReporter, DestructionEndsTheThreadWithinOneStep) {
  PointerRecorder recorder;
  const auto start = std::chrono::steady_clock::now();
  {
    // A step of 10 s: destruction must not wait for it to run out.
    ZVMouseReporter reporter(std::ref(recorder), ZVMouseReporter::Mode::thread, 10s);
    reporter.SetXYAxis(1, 1, 0);
    for (int i = 0; i < 200 && recorder.events().empty(); ++i) std::this_thread::sleep_for(5ms);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(recorder.events().size(), 1u);

  // Wake-ups racing with the thread going to sleep are never lost.
  for (int round = 0; round < 50; ++round) {
    PointerRecorder quick;
    ZVMouseReporter reporter(std::ref(quick), ZVMouseReporter::Mode::thread, 1000ms);
    reporter.SetXYAxis(static_cast<std::int16_t>(round + 1), 0, 0);
    for (int i = 0; i < 400 && quick.events().empty(); ++i) std::this_thread::sleep_for(1ms);
    ASSERT_FALSE(quick.events().empty()) << "round " << round;
  }
}

}  // namespace
}  // namespace zv::driver
