#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>
#include <vector>

#include "engine/Clock.h"

namespace zv::engine {
namespace {

using namespace std::chrono_literals;

TEST(ManualClock, ADelayEndsExactlyWhenTimeReachesIt) {
  ManualClock clock;
  const Clock::TimePoint start = clock.now();
  std::atomic<bool> done{false};
  std::optional<Clock::TimePoint> endedAt;
  std::thread waiter([&] {
    sleepFor(clock, 500ms);
    endedAt = clock.now();
    done = true;
  });
  ASSERT_TRUE(clock.waitForWaiters(1));
  EXPECT_EQ(clock.nextDeadline(), start + 500ms);
  clock.advance(499ms);
  ASSERT_TRUE(clock.waitForWaiters(1)) << "still waiting one millisecond short";
  EXPECT_FALSE(done);
  clock.advance(1ms);
  waiter.join();
  EXPECT_EQ(endedAt, start + 500ms);
  EXPECT_EQ(clock.waiting(), 0u);
}

TEST(ManualClock, ANotificationEndsAWaitEarly) {
  ManualClock clock;
  std::mutex mutex;
  Condition stopped(clock);
  bool stop = false;
  bool answer = false;
  std::thread waiter([&] {
    std::unique_lock lock(mutex);
    answer = stopped.waitFor(lock, 100ms, [&] { return stop; });
  });
  ASSERT_TRUE(clock.waitForWaiters(1));
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  stopped.notifyAll();
  waiter.join();
  EXPECT_TRUE(answer);
  EXPECT_EQ(clock.nextDeadline(), std::nullopt);

  // A predicate that already holds does not wait at all; a deadline in the past ends at once.
  std::unique_lock lock(mutex);
  EXPECT_TRUE(stopped.waitFor(lock, 1h, [] { return true; }));
  EXPECT_FALSE(stopped.waitUntil(lock, clock.now() - 1ms, [] { return false; }));
}

TEST(ManualClock, ManyThreadsWakeInDeadlineOrder) {
  ManualClock clock;
  const Clock::TimePoint start = clock.now();
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int> finished;
  std::vector<std::thread> threads;
  for (int delay : {300, 100, 200}) {
    threads.emplace_back([&, delay] {
      sleepFor(clock, std::chrono::milliseconds(delay));
      std::lock_guard lock(mutex);
      finished.push_back(delay);
      changed.notify_all();
    });
  }
  ASSERT_TRUE(clock.waitForWaiters(3));
  for (std::size_t step = 1; step <= 3; ++step) {
    ASSERT_TRUE(clock.advanceToNextDeadline());
    EXPECT_EQ(clock.now(), start + std::chrono::milliseconds(100 * step));
    // The woken thread finishes; the others wait again.
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return finished.size() == step; }));
    lock.unlock();
    ASSERT_TRUE(clock.waitForWaiters(3 - step));
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(finished, (std::vector<int>{100, 200, 300}));
  EXPECT_FALSE(clock.advanceToNextDeadline());
}

TEST(ManualClock, OnlyTheWaitsThatAreDueOrNotifiedWake) {
  // Many runs waiting out long delays must cost nothing while time moves in small steps:
  // an advance wakes only the waits it ends, a notification only its condition's waits.
  ManualClock clock;
  std::mutex mutex;
  Condition longDelays(clock);
  Condition shortDelay(clock);
  std::vector<std::thread> threads;
  for (int i = 0; i < 20; ++i) {
    threads.emplace_back([&] {
      std::unique_lock lock(mutex);
      longDelays.sleepFor(lock, 1h);
    });
  }
  threads.emplace_back([&] {
    std::unique_lock lock(mutex);
    shortDelay.sleepFor(lock, 10ms);
  });
  ASSERT_TRUE(clock.waitForWaiters(21));
  clock.advance(10ms);
  // Woken waits leave the count at once; nothing else has to run for that.
  EXPECT_EQ(clock.waiting(), 20u);
  threads.back().join();
  threads.pop_back();
  for (int tick = 0; tick < 100; ++tick) clock.advance(1ms);
  EXPECT_EQ(clock.waiting(), 20u) << "nobody was woken by the ticks";

  bool done = false;
  std::thread notified([&] {
    std::unique_lock lock(mutex);
    shortDelay.waitFor(lock, 1h, [&] { return done; });
  });
  ASSERT_TRUE(clock.waitForWaiters(21));
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  shortDelay.notifyAll();
  EXPECT_EQ(clock.waiting(), 20u) << "the other condition's waits sleep on";
  notified.join();

  clock.advance(1h);
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(clock.waiting(), 0u);
}

TEST(ManualClock, StressOfWaitsNotificationsAndAdvances) {
  // Threads sleep in steps while others notify; the driver advances until every thread
  // has done its steps. Deadlocks and races show up here (run it under TSan).
  ManualClock clock;
  constexpr int kThreads = 6;
  constexpr int kSteps = 40;
  std::mutex mutex;
  Condition condition(clock);
  std::atomic<int> remaining{kThreads};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int step = 0; step < kSteps; ++step) {
        std::unique_lock lock(mutex);
        condition.waitFor(lock, std::chrono::milliseconds(10 + t), [] { return false; });
        if (step % 7 == 0) {
          lock.unlock();
          condition.notifyAll();
        }
      }
      --remaining;
    });
  }
  while (remaining > 0) {
    clock.advance(5ms);
    std::this_thread::yield();
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(clock.waiting(), 0u);
}

TEST(SteadyClock, WaitsEndOnNotificationOrDeadline) {
  Clock& clock = Clock::steady();
  std::mutex mutex;
  Condition condition(clock);
  bool ready = false;
  bool answer = false;
  std::thread waiter([&] {
    std::unique_lock lock(mutex);
    answer = condition.waitFor(lock, 60s, [&] { return ready; });
  });
  {
    std::lock_guard lock(mutex);
    ready = true;
  }
  condition.notifyAll();
  waiter.join();  // long before the deadline
  EXPECT_TRUE(answer);

  const auto before = clock.now();
  sleepFor(clock, 2ms);
  EXPECT_GE(clock.now() - before, 2ms);
  std::unique_lock lock(mutex);
  EXPECT_FALSE(condition.waitFor(lock, 1ms, [] { return false; }));
}

}  // namespace
}  // namespace zv::engine
