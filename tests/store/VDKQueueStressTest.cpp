// Many changes in a short time, and entries removed while the watcher thread is busy
// with them: no crash, no notification for a removed entry, no descriptor left open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "WatchTestSupport.h"
#include "platform/RunLoop.h"
#include "platform/VDKQueue.h"
#include "testing/TemporaryTree.h"

using namespace zv::platform;
using namespace zv::platform::testing;
using zv::platform::RunLoop;

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

TEST(VDKQueueStress, RapidWritesThenReplaceAndReAddCycles) {
  zv::testing::TemporaryTree tree;
  RunLoop& main = RunLoop::main();
  Sentinel sentinel(tree.path("sentinel"));  // the watcher thread and the main loop exist now
  const auto file = tree.write("stressed", "").string();
  auto queue = VDKQueue::create();
  Recorder recorder;
  queue->setDelegate(&recorder);
  const int descriptorsBefore = openDescriptorCount();
  queue->addPath(file);

  // 10 000 appends, one byte each, with the main loop dispatching now and then.
  constexpr int kWrites = 10'000;
  auto start = std::chrono::steady_clock::now();
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < kWrites; ++i) {
    ASSERT_EQ(::write(fd, "x", 1), 1);
    if (i % 100 == 0) main.dispatchPending();
  }
  ::close(fd);
  ASSERT_TRUE(sentinel.pass());
  const double writeMs = millisecondsSince(start);
  const auto names = recorder.namesFor(file);
  const auto writes = std::count(names.begin(), names.end(), VDKQueueWriteNotification);
  const auto growths = std::count(names.begin(), names.end(), VDKQueueSizeIncreaseNotification);
  EXPECT_GE(writes, 1);
  EXPECT_GE(growths, 1);
  EXPECT_EQ(writes + growths, static_cast<long>(names.size()))
      << "appends caused notifications other than write and size increase";
  EXPECT_LE(writes, kWrites);

  // 1 000 atomic replacements, each followed at once by removing and re-adding the path,
  // while the watcher thread is still busy with the old file's deletion. Whatever the
  // watcher hands over for an old entry must be dropped: the main loop dispatches both
  // between the removal and the re-add and after it, and the current entry never sees
  // a change of its own in this phase, so no notification may arrive at all.
  constexpr int kCycles = 1'000;
  recorder.clear();
  start = std::chrono::steady_clock::now();
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    replaceByRename(file, "cycle " + std::to_string(cycle));
    queue->removePath(file);
    main.dispatchPending();
    queue->addPath(file);
    main.dispatchPending();
  }
  ASSERT_TRUE(sentinel.pass());
  const double cycleMs = millisecondsSince(start);
  EXPECT_EQ(recorder.heard.size(), 0u)
      << "notifications of removed entries were delivered, first: "
      << (recorder.heard.empty() ? "" : recorder.heard[0].notification);
  ASSERT_EQ(queue->numberOfWatchedPaths(), 1u);

  // The entry left at the end watches the file that is there now.
  appendTo(file, "!");
  ASSERT_TRUE(waitFor([&] { return recorder.heardAbout(file); }));

  queue->removeAllPaths();
  EXPECT_TRUE(main.runUntil([&] { return openDescriptorCount() == descriptorsBefore; }, kPatience))
      << "descriptors open: " << openDescriptorCount() << ", before: " << descriptorsBefore;
  queue->setDelegate(nullptr);

  std::printf("[ figures  ] %d appends: %.1f ms, %ld write + %ld size-increase notifications\n",
              kWrites, writeMs, static_cast<long>(writes), static_cast<long>(growths));
  std::printf("[ figures  ] %d replace-and-re-add cycles: %.1f ms\n", kCycles, cycleMs);
}

TEST(VDKQueueStress, PathsAddedAndRemovedOnAnotherThreadWhileTheFileChanges) {
  zv::testing::TemporaryTree tree;
  RunLoop& main = RunLoop::main();
  Sentinel sentinel(tree.path("sentinel"));
  const auto file = tree.write("busy", "").string();
  auto queue = VDKQueue::create();
  Recorder recorder;
  queue->setDelegate(&recorder);
  const int descriptorsBefore = openDescriptorCount();

  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (int i = 0; i < 2'000; ++i) {
      queue->addPath(file);
      queue->removePath(file);
    }
    done = true;
  });
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  while (!done) {
    ASSERT_EQ(::write(fd, "x", 1), 1);
    main.dispatchPending();
  }
  ::close(fd);
  churn.join();
  ASSERT_TRUE(sentinel.pass());
  EXPECT_FALSE(recorder.offMainThread);
  EXPECT_EQ(queue->numberOfWatchedPaths(), 0u);
  EXPECT_TRUE(main.runUntil([&] { return openDescriptorCount() == descriptorsBefore; }, kPatience))
      << "descriptors open: " << openDescriptorCount() << ", before: " << descriptorsBefore;
  queue->setDelegate(nullptr);
}
