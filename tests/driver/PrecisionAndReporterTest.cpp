#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "DriverTestSupport.h"
#include "core/DriverClock.h"
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

TEST(ZVMouseReporter, ThreadStepsEveryTenMillisecondsOnItsClock) {
  ManualDriverClock clock;
  PointerRecorder recorder;
  ZVMouseReporter reporter(std::ref(recorder), ZVMouseReporter::Mode::thread,
                           ZVMouseReporter::kStep, clock);
  ASSERT_TRUE(clock.waitForWaiters(1)) << "the thread waits for motion";
  clock.advance(100ms);
  reporter.SetXYAxis(0, 0, 2);
  ASSERT_TRUE(clock.waitForWaiters(1));
  EXPECT_TRUE(recorder.events().empty()) << "no work while idle";

  // SetXYAxis(3, 0) at t = 0 and SetXYAxis(0, 0) at t = 50: steps at 0, 10, 20, 30, 40.
  reporter.SetXYAxis(3, 0, 2);
  for (int step = 1; step <= 5; ++step) {
    // The thread has made its step once it waits for the next one.
    ASSERT_TRUE(clock.waitForWaiters(1)) << "step " << step;
    ASSERT_EQ(recorder.events().size(), static_cast<std::size_t>(step));
    if (step < 5) clock.advance(10ms);
  }
  clock.advance(5ms);
  reporter.SetXYAxis(0, 0, 2);  // t = 45
  clock.advance(5ms);           // the step due at 50 finds no motion: the thread idles
  ASSERT_TRUE(clock.waitForWaiters(1));
  clock.advance(1000ms);
  ASSERT_TRUE(clock.waitForWaiters(1));
  EXPECT_EQ(recorder.events(), std::vector<PointerEvent>(5, {3, 0, 2}));

  // A change while stepping is picked up by the next step, not at once.
  reporter.SetXYAxis(-2, 4, 0x8001);
  ASSERT_TRUE(recorder.waitForEvents(6));
  ASSERT_TRUE(clock.waitForWaiters(1));
  reporter.SetXYAxis(1, 1, 0);
  EXPECT_EQ(recorder.events().size(), 6u);
  clock.advance(10ms);
  ASSERT_TRUE(recorder.waitForEvents(7));
  EXPECT_EQ(recorder.events()[6], (PointerEvent{1, 1, 0}));
}

// Destroys the reporter on another thread; answers whether that ended without the clock
// moving. If it does not, the clock is moved past the step so the thread can end at all.
bool destroyedWithoutTimePassing(std::unique_ptr<ZVMouseReporter> reporter,
                                 ManualDriverClock& clock) {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  std::thread destroyer([&] {
    reporter.reset();
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    changed.notify_all();
  });
  bool ended;
  {
    std::unique_lock<std::mutex> lock(mutex);
    ended = changed.wait_for(lock, 10s, [&] { return done; });
  }
  if (!ended) clock.advance(24h);
  destroyer.join();
  return ended;
}

TEST(ZVMouseReporter, DestructionEndsTheThreadInTheMiddleOfAStep) {
  ManualDriverClock clock;
  PointerRecorder recorder;
  // A step of 10 s on a clock that does not move: destruction must not wait for it.
  auto reporter = std::make_unique<ZVMouseReporter>(std::ref(recorder),
                                                    ZVMouseReporter::Mode::thread, 10s, clock);
  reporter->SetXYAxis(1, 1, 0);
  ASSERT_TRUE(recorder.waitForEvents(1));
  ASSERT_TRUE(clock.waitForWaiters(1));
  EXPECT_TRUE(destroyedWithoutTimePassing(std::move(reporter), clock));
  EXPECT_EQ(recorder.events().size(), 1u);

  // And while it waits for motion.
  reporter = std::make_unique<ZVMouseReporter>(std::ref(recorder), ZVMouseReporter::Mode::thread,
                                               10s, clock);
  ASSERT_TRUE(clock.waitForWaiters(1));
  EXPECT_TRUE(destroyedWithoutTimePassing(std::move(reporter), clock));
}

TEST(ZVMouseReporter, WakeUpsRacingWithTheThreadGoingToSleepAreNeverLost) {
  for (int round = 0; round < 50; ++round) {
    ManualDriverClock clock;
    PointerRecorder quick;
    ZVMouseReporter reporter(std::ref(quick), ZVMouseReporter::Mode::thread, 1000ms, clock);
    reporter.SetXYAxis(static_cast<std::int16_t>(round + 1), 0, 0);
    ASSERT_TRUE(quick.waitForEvents(1)) << "round " << round;
  }
}

TEST(ZVMouseReporter, RealClockStepsWithoutBeingDriven) {
  // The daemon's configuration: the steady clock. Only that it steps at all is checked;
  // how often is the manual clock's test above.
  PointerRecorder recorder;
  ZVMouseReporter reporter(std::ref(recorder));
  reporter.SetXYAxis(2, -2, 1);
  ASSERT_TRUE(recorder.waitForEvents(3));
  reporter.SetXYAxis(0, 0, 1);
  for (const PointerEvent& e : recorder.events()) EXPECT_EQ(e, (PointerEvent{2, -2, 1}));
}

}  // namespace
}  // namespace zv::driver
