// The key and mouse taps' event loop (FdWatcher) on one of the library's run loops, so
// that tap callbacks arrive on the thread that dispatches that loop. A program gives its
// taps the main loop at start-up:
//
//   output::setDefaultTapWatcher(std::make_shared<output::RunLoopFdWatcher>(RunLoop::main()));
//
// Threads: watch() and unwatch() from any thread; callbacks run on the loop's thread.
#pragma once

#include <map>
#include <mutex>

#include "output/InputDevices.h"
#include "platform/RunLoop.h"

namespace zv::output {

class RunLoopFdWatcher : public FdWatcher {
 public:
  // `loop` must outlive the watcher (RunLoop::main() always does).
  explicit RunLoopFdWatcher(platform::RunLoop& loop) : loop_(loop) {}
  // Ends every watch still open.
  ~RunLoopFdWatcher() override;
  RunLoopFdWatcher(const RunLoopFdWatcher&) = delete;
  RunLoopFdWatcher& operator=(const RunLoopFdWatcher&) = delete;

  // A second watch of the same descriptor replaces the first.
  void watch(int fd, std::function<void()> readable) override;
  void unwatch(int fd) override;

 private:
  platform::RunLoop& loop_;
  std::mutex mutex_;
  std::map<int, platform::RunLoop::WatchId> watches_;
};

}  // namespace zv::output
