#include "platform/RunLoop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using zv::platform::RunLoop;
using namespace std::chrono_literals;

namespace {

// Generous: the machine is shared and the sanitizer builds are slow. Nothing here
// measures time; the deadline only keeps a broken loop from hanging the test.
constexpr auto kPatience = 10s;

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    ::close(read);
    ::close(write);
  }
  void put(char c) const { ASSERT_EQ(::write(write, &c, 1), 1); }
  std::string take() const {
    std::string bytes;
    char c;
    while (::read(read, &c, 1) == 1) bytes += c;
    return bytes;
  }
};

bool readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

// A process out of descriptors gets a loop that says why instead of an exception, and
// that runs nothing rather than spinning.
TEST(RunLoop, WithoutDescriptorsItSaysWhyAndRunsNothing) {
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit none = saved;
  none.rlim_cur = 0;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  RunLoop loop;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  ASSERT_TRUE(loop.failure());
  EXPECT_TRUE(loop.failure()->is(zv::base::kSystemDomain, EMFILE)) << loop.failure()->message;
  EXPECT_EQ(loop.failure()->message.rfind("cannot make a run loop: epoll_create1: ", 0), 0u);
  loop.post([] {});
  loop.run();
  EXPECT_EQ(loop.dispatchPending(), 0u);
  EXPECT_FALSE(loop.runUntil([] { return false; }, 1ms));
  EXPECT_FALSE(RunLoop::main().failure());
}

}  // namespace

TEST(RunLoop, TasksPostedFromManyThreadsRunOnTheLoopThreadInPostingOrder) {
  RunLoop loop;
  constexpr int kThreads = 4;
  constexpr int kTasks = 2000;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> offThread{0};
  int total = 0;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i) {
        loop.post([&, t, i] {
          if (!loop.isLoopThread()) ++offThread;
          seen[t].push_back(i);
          ++total;
        });
      }
    });
  }
  ASSERT_TRUE(loop.runUntil([&] { return total == kThreads * kTasks; }, kPatience))
      << "only " << total << " tasks ran";
  for (auto& poster : posters) poster.join();
  EXPECT_EQ(offThread, 0) << "tasks ran off the loop's thread";
  for (int t = 0; t < kThreads; ++t) {
    std::vector<int> expected(kTasks);
    for (int i = 0; i < kTasks; ++i) expected[i] = i;
    EXPECT_EQ(seen[t], expected) << "tasks of poster " << t << " ran out of order";
  }

  // A task posted by a task waits for the next round, so one round cannot run forever.
  int chained = 0;
  std::function<void()> again = [&] {
    ++chained;
    loop.post(again);
  };
  loop.post(again);
  EXPECT_EQ(loop.dispatchPending(), 1u);
  EXPECT_EQ(chained, 1);
  EXPECT_EQ(loop.dispatchPending(), 1u);
  EXPECT_EQ(chained, 2);
}

TEST(RunLoop, TimersFireInDeadlineOrderAndCanBeCancelled) {
  RunLoop loop;
  std::vector<std::string> order;
  loop.addTimer(60ms, [&] { order.push_back("late"); });
  loop.addTimer(5ms, [&] { order.push_back("early-1"); });
  loop.addTimer(5ms, [&] { order.push_back("early-2"); });
  const auto cancelled = loop.addTimer(1ms, [&] { order.push_back("cancelled"); });
  EXPECT_TRUE(loop.cancelTimer(cancelled));
  EXPECT_FALSE(loop.cancelTimer(cancelled)) << "a cancelled timer is no longer pending";
  ASSERT_TRUE(loop.runUntil([&] { return order.size() == 3; }, kPatience));
  EXPECT_EQ(order, (std::vector<std::string>{"early-1", "early-2", "late"}));

  // A one-shot timer fires exactly once and is no longer pending afterwards.
  int once = 0;
  const auto oneShot = loop.addTimer(0ms, [&] { ++once; });
  ASSERT_TRUE(loop.runUntil([&] { return once == 1; }, kPatience));
  loop.runUntil([] { return false; }, 30ms);
  EXPECT_EQ(once, 1);
  EXPECT_FALSE(loop.cancelTimer(oneShot));

  // A repeating timer keeps firing until it cancels itself from its own task.
  int repeats = 0;
  RunLoop::TimerId repeating = 0;
  repeating = loop.addRepeatingTimer(2ms, [&] {
    if (++repeats == 5) loop.cancelTimer(repeating);
  });
  ASSERT_TRUE(loop.runUntil([&] { return repeats == 5; }, kPatience));
  loop.runUntil([] { return false; }, 30ms);
  EXPECT_EQ(repeats, 5) << "the repeating timer fired after cancelling itself";
}

TEST(RunLoop, TimersAndStopFromOtherThreadsWakeABlockedRun) {
  RunLoop loop;
  bool fired = false;
  // The other thread acts once the loop runs (it has dispatched the posted task), so
  // the loop is blocked, or about to block, with nothing due.
  std::promise<void> running;
  loop.post([&] { running.set_value(); });
  std::thread other([&] {
    running.get_future().wait();
    loop.addTimer(1ms, [&] {
      fired = true;
      loop.stop();
    });
  });
  loop.run();  // blocks without a deadline until the timer added later stops it
  other.join();
  EXPECT_TRUE(fired);

  std::promise<void> runningAgain;
  loop.post([&] { runningAgain.set_value(); });
  std::thread stopper([&] {
    runningAgain.get_future().wait();
    loop.stop();
  });
  loop.run();
  stopper.join();

  // A stop that comes while nothing runs is kept for the next run().
  loop.stop();
  loop.run();

  // stop() ends the innermost run only.
  std::vector<std::string> trace;
  loop.post([&] {
    loop.post([&] {
      trace.push_back("inner stop");
      loop.stop();
    });
    loop.run();
    trace.push_back("inner returned");
    loop.stop();
  });
  loop.run();
  EXPECT_EQ(trace, (std::vector<std::string>{"inner stop", "inner returned"}));
}

TEST(RunLoop, FdWatchesReportReadinessUntilUnwatched) {
  RunLoop loop;
  Pipe a, b;
  ASSERT_GE(a.read, 0);
  std::string got;
  std::uint32_t events = 0;
  const auto watchA = loop.watchFd(a.read, EPOLLIN, [&](std::uint32_t e) {
    events = e;
    got += a.take();
  });
  ASSERT_NE(watchA, 0u);
  EXPECT_EQ(loop.watchFd(a.read, EPOLLIN, [](std::uint32_t) {}), 0u)
      << "a descriptor is watched once per loop";
  EXPECT_EQ(loop.watchFd(-1, EPOLLIN, [](std::uint32_t) {}), 0u);

  a.put('x');
  ASSERT_TRUE(loop.runUntil([&] { return got == "x"; }, kPatience));
  EXPECT_TRUE(events & EPOLLIN);

  EXPECT_TRUE(loop.unwatchFd(watchA));
  EXPECT_FALSE(loop.unwatchFd(watchA));
  a.put('y');
  loop.runUntil([] { return false; }, 30ms);
  EXPECT_EQ(got, "x") << "an unwatched descriptor was still reported";

  // Both pipes become ready in the same round; the first handler to run unwatches the
  // other, which must then not be called even though epoll already reported it.
  int calls = 0;
  RunLoop::WatchId first = 0, second = 0;
  first = loop.watchFd(b.read, EPOLLIN, [&](std::uint32_t) {
    ++calls;
    b.take();
    loop.unwatchFd(first);
    loop.unwatchFd(second);
  });
  second = loop.watchFd(a.read, EPOLLIN, [&](std::uint32_t) {
    ++calls;
    a.take();
    loop.unwatchFd(first);
    loop.unwatchFd(second);
  });
  b.put('1');  // a still holds 'y'
  ASSERT_TRUE(loop.runUntil([&] { return calls > 0; }, kPatience));
  loop.runUntil([] { return false; }, 30ms);
  EXPECT_EQ(calls, 1);
}

TEST(RunLoop, AnotherEventLoopCanWatchItsDescriptorAndDispatchWithoutBlocking) {
  RunLoop loop;
  EXPECT_FALSE(readable(loop.fd(), 0)) << "an idle loop must not look ready";
  const auto before = RunLoop::Clock::now();
  EXPECT_EQ(loop.dispatchPending(), 0u);
  EXPECT_LT(RunLoop::Clock::now() - before, 5s) << "dispatchPending() blocked on an idle loop";

  std::atomic<int> ran{0};
  std::thread poster([&] { loop.post([&] { ++ran; }); });
  ASSERT_TRUE(readable(loop.fd(), 10000)) << "posting did not make the descriptor readable";
  poster.join();
  EXPECT_EQ(loop.dispatchPending(), 1u);
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(readable(loop.fd(), 0)) << "the loop still looks ready after dispatching";

  loop.addTimer(1ms, [&] { ++ran; });
  ASSERT_TRUE(readable(loop.fd(), 10000)) << "a due timer did not make the descriptor readable";
  EXPECT_EQ(loop.dispatchPending(), 1u);
  EXPECT_EQ(ran, 2);
}

TEST(RunLoop, KnowsTheMainThreadAndItsOwnThread) {
  EXPECT_TRUE(RunLoop::isMainThread());
  EXPECT_TRUE(RunLoop::main().isLoopThread());
  bool otherIsMain = true, otherOwnsMain = true, otherOwnsItsLoop = false;
  std::thread other([&] {
    otherIsMain = RunLoop::isMainThread();
    otherOwnsMain = RunLoop::main().isLoopThread();
    RunLoop own;
    otherOwnsItsLoop = own.isLoopThread();
  });
  other.join();
  EXPECT_FALSE(otherIsMain);
  EXPECT_FALSE(otherOwnsMain);
  EXPECT_TRUE(otherOwnsItsLoop);
  EXPECT_EQ(&RunLoop::main(), &RunLoop::main());
}

TEST(RunLoop, DeliversSignalsOnTheLoopThread) {
  sigset_t saved;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &saved);
  RunLoop loop;
  std::vector<int> received;
  const auto watch = loop.watchSignals({SIGUSR1, SIGUSR2}, [&](int s) { received.push_back(s); });
  ASSERT_NE(watch, 0u);
  // Directed at this thread, which blocks them now, so they wait for the signalfd.
  ::pthread_kill(::pthread_self(), SIGUSR2);
  ::pthread_kill(::pthread_self(), SIGUSR1);
  ASSERT_TRUE(loop.runUntil([&] { return received.size() == 2; }, kPatience));
  EXPECT_EQ(received, (std::vector<int>{SIGUSR1, SIGUSR2}));  // the kernel hands them lowest first
  EXPECT_TRUE(loop.unwatchFd(watch));
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}
