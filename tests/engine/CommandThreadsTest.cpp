// The registry of command threads: waiting for runs to end, aborting and joining them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>

#include "engine/CommandThreads.h"
#include "testing/LogCapture.h"

namespace zv::engine {
namespace {

using namespace std::chrono_literals;

TEST(CommandThreads, WaitsForAbortsAndJoinsRuns) {
  CommandThreads& threads = CommandThreads::shared();
  ASSERT_TRUE(threads.waitIdle());

  // Bodies that end by themselves.
  std::atomic<int> ran{0};
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(threads.launch([&] { ++ran; }, [] {}));
  }
  EXPECT_TRUE(threads.waitIdle());
  EXPECT_EQ(ran, 20);
  EXPECT_EQ(threads.active(), 0u);

  // Bodies that run until aborted; an abort may come before the body has started, and
  // again after it has ended.
  std::mutex mutex;
  std::condition_variable changed;
  int aborted = 0;
  std::atomic<int> aborts{0};
  for (int i = 0; i < 4; ++i) {
    auto stop = std::make_shared<bool>(false);
    threads.launch(
        [&, stop] {
          std::unique_lock lock(mutex);
          changed.wait(lock, [&] { return *stop; });
          ++aborted;
        },
        [&, stop] {
          ++aborts;
          std::lock_guard lock(mutex);
          *stop = true;
          changed.notify_all();
        });
  }
  EXPECT_EQ(threads.active(), 4u);
  EXPECT_FALSE(threads.waitIdle(10ms));
  threads.cancelAndJoinAll();
  EXPECT_EQ(threads.active(), 0u);
  EXPECT_EQ(aborted, 4);
  EXPECT_GE(aborts, 4);

  // A body that throws ends like any other, and what it threw is logged.
  {
    testing::LogCapture log;
    threads.launch([] { throw std::runtime_error("boom"); }, [] {});
    threads.launch([] { throw 42; }, [] {});
    EXPECT_TRUE(threads.waitIdle());
    std::vector<std::string> messages = log.messages();
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "a command run failed: an exception that is not a std::exception; "
                            "carrying on",
                            "a command run failed: boom; carrying on"}));
  }

  // A body waiting for the registry does not wait for itself.
  std::atomic<bool> answered{false};
  threads.launch(
      [&] {
        CommandThreads::shared().cancelAndJoinAll();
        answered = !CommandThreads::shared().waitIdle(1h);
      },
      [] {});
  EXPECT_TRUE(threads.waitIdle());
  EXPECT_TRUE(answered);
}

}  // namespace
}  // namespace zv::engine
