// The key and mouse taps' event loop (output::FdWatcher) on the library's run loop, so
// tap callbacks arrive on the thread that dispatches it (the GUI thread in the editor).
#pragma once

#include <map>
#include <mutex>

#include "output/InputDevices.h"
#include "platform/RunLoop.h"

namespace zv::editor {

class RunLoopFdWatcher : public output::FdWatcher {
 public:
  explicit RunLoopFdWatcher(platform::RunLoop& loop) : loop_(loop) {}
  ~RunLoopFdWatcher() override;
  void watch(int fd, std::function<void()> readable) override;
  void unwatch(int fd) override;

 private:
  platform::RunLoop& loop_;
  std::mutex mutex_;
  std::map<int, platform::RunLoop::WatchId> watches_;
};

}  // namespace zv::editor
