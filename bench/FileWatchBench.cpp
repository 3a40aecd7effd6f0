// How long the main run loop and the file watch take to hand work to the main thread.
//   BM_RunLoopPostAndDispatch      post + dispatch on one thread (the loop's own cost)
//   BM_RunLoopPostFromOtherThread  another thread posts, the loop thread runs it
//   BM_VDKQueueAppendToDelegate    a byte appended to a watched file until the delegate
//                                  hears of it (inotify, watcher thread, main run loop)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/RunLoop.h"
#include "platform/VDKQueue.h"

using zv::platform::RunLoop;

namespace {

void BM_RunLoopPostAndDispatch(benchmark::State& state) {
  RunLoop loop;
  int ran = 0;
  for (auto _ : state) {
    loop.post([&] { ++ran; });
    loop.dispatchPending();
  }
  benchmark::DoNotOptimize(ran);
}
BENCHMARK(BM_RunLoopPostAndDispatch);

void BM_RunLoopPostFromOtherThread(benchmark::State& state) {
  RunLoop loop;
  std::atomic<long> requested{0};
  std::atomic<bool> quit{false};
  long ran = 0;
  std::thread poster([&] {
    long posted = 0;
    while (!quit) {
      if (requested.load() > posted) {
        ++posted;
        loop.post([&] { ++ran; });
      } else {
        std::this_thread::yield();
      }
    }
  });
  for (auto _ : state) {
    const long want = ran + 1;
    ++requested;
    loop.runUntil([&] { return ran == want; }, std::chrono::seconds(10));
  }
  quit = true;
  poster.join();
}
BENCHMARK(BM_RunLoopPostFromOtherThread)->UseRealTime();

struct Counter : zv::platform::VDKQueueDelegate {
  long heard = 0;
  void VDKQueueReceivedNotification(zv::platform::VDKQueue&, std::string_view notification,
                                    const std::string&) override {
    if (notification == zv::platform::VDKQueueWriteNotification) ++heard;
  }
};

void BM_VDKQueueAppendToDelegate(benchmark::State& state) {
  char pattern[] = "/tmp/kinetra-bench-XXXXXX";
  if (!::mkdtemp(pattern)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::filesystem::path folder = pattern;
  const auto file = folder / "watched";
  std::ofstream(file) << "x";
  auto queue = zv::platform::VDKQueue::create();
  Counter counter;
  queue->setDelegate(&counter);
  queue->addPath(file);
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  for (auto _ : state) {
    const long want = counter.heard + 1;
    if (::write(fd, "x", 1) != 1) state.SkipWithError("write failed");
    RunLoop::main().runUntil([&] { return counter.heard >= want; }, std::chrono::seconds(10));
  }
  ::close(fd);
  queue->setDelegate(nullptr);
  queue.reset();
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_VDKQueueAppendToDelegate)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
