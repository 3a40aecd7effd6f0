// Waits for device bundles to be installed: watches the device folders and tells its
// owner, on the main run loop, when something in them changed, so that the owner can
// scan again. A folder that does not exist yet is watched through the nearest folder
// above it that does; the Contents folder of every bundle found is watched too, so a
// bundle whose Info.plist arrives after its folder is seen. The call comes `settle`
// after the last change, once, so a bundle being copied in is looked at when complete.
//
// Threads: the main thread (the file watch delivers there).
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/VDKQueue.h"

namespace zv::agent {

class DeviceBundleWatch : public platform::VDKQueueDelegate {
 public:
  DeviceBundleWatch(std::vector<std::filesystem::path> folders, std::function<void()> changed,
                    std::chrono::milliseconds settle = std::chrono::milliseconds(300));
  ~DeviceBundleWatch() override;
  DeviceBundleWatch(const DeviceBundleWatch&) = delete;
  DeviceBundleWatch& operator=(const DeviceBundleWatch&) = delete;

  // The paths watched now.
  std::size_t numberOfWatchedPaths() const;

  void VDKQueueReceivedNotification(platform::VDKQueue& queue, std::string_view notification,
                                    const std::string& path) override;

 private:
  // Watches what exists now of the folders, their nearest existing parents and bundles.
  void watch();

  std::vector<std::filesystem::path> folders_;
  std::function<void()> changed_;
  std::chrono::milliseconds settle_;
  std::shared_ptr<platform::VDKQueue> queue_;
  platform::RunLoop::TimerId timer_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zv::agent
