// The registry of command threads: waiting for runs to end, aborting and joining them.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>

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

// Runs go to threads that wait for them; more runs at once than threads wait start
// threads of their own, and threads left over end once kMaxReady wait.
TEST(CommandThreads, RunsGoToThreadsStartedBeforehand) {
  CommandThreads& threads = CommandThreads::shared();
  ASSERT_TRUE(threads.waitIdle());
  threads.keepReady(2);
  EXPECT_GE(threads.ready(), 2u) << "started before keepReady returns";

  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  int running = 0;
  const auto body = [&] {
    std::unique_lock lock(mutex);
    ++running;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  };
  const auto abort = [&] {
    std::lock_guard lock(mutex);
    release = true;
    changed.notify_all();
  };
  const std::size_t coldBefore = threads.coldStarts();
  ASSERT_TRUE(threads.launch(body, abort));
  EXPECT_EQ(threads.coldStarts(), coldBefore) << "a waiting thread took the run";
  // A burst beyond the waiting threads still runs every body.
  constexpr int kBurst = 3 * static_cast<int>(CommandThreads::kMaxReady);
  for (int i = 1; i < kBurst; ++i) ASSERT_TRUE(threads.launch(body, abort));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return running == kBurst; }));
    release = true;
    changed.notify_all();
  }
  ASSERT_TRUE(threads.waitIdle());
  EXPECT_GE(threads.ready(), 2u);
  EXPECT_LE(threads.ready(), CommandThreads::kMaxReady);
}

// In a child process: leaves room for small allocations and none for a thread's stack,
// then launches. 0 when the launch was refused and counted, with nothing left running.
[[maybe_unused]] int launchWithoutRoomForAThread() {
  std::ifstream statm("/proc/self/statm");
  unsigned long pages = 0;
  statm >> pages;
  const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (4 << 20);
  const rlimit tight{limit, limit};
  if (setrlimit(RLIMIT_AS, &tight) != 0) return 3;
  CommandThreads& threads = CommandThreads::shared();
  if (threads.launch([] {}, [] {})) return 1;
  return threads.refused() == 1 && threads.active() == 0 ? 0 : 2;
}

TEST(CommandThreads, AThreadThatCannotBeCreatedIsARefusalNotACrash) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' own reservations do not fit under an address-space limit";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(launchWithoutRoomForAThread()), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace zv::engine
