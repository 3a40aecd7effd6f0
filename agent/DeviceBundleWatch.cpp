#include "DeviceBundleWatch.h"

namespace zv::agent {

namespace fs = std::filesystem;

DeviceBundleWatch::DeviceBundleWatch(std::vector<fs::path> folders, std::function<void()> changed,
                                     std::chrono::milliseconds settle)
    : folders_(std::move(folders)),
      changed_(std::move(changed)),
      settle_(settle),
      queue_(platform::VDKQueue::create()) {
  if (queue_) queue_->setDelegate(this);
  watch();
}

DeviceBundleWatch::~DeviceBundleWatch() {
  *alive_ = false;
  if (timer_) platform::RunLoop::main().cancelTimer(timer_);
  if (queue_) {
    queue_->setDelegate(nullptr);
    queue_->removeAllPaths();
  }
}

std::size_t DeviceBundleWatch::numberOfWatchedPaths() const {
  return queue_ ? queue_->numberOfWatchedPaths() : 0;
}

void DeviceBundleWatch::watch() {
  if (!queue_) return;
  queue_->removeAllPaths();
  for (const fs::path& folder : folders_) {
    std::error_code ec;
    fs::path existing = folder;
    while (!fs::is_directory(existing, ec) && existing.has_parent_path() &&
           existing != existing.parent_path()) {
      existing = existing.parent_path();
    }
    queue_->addPath(existing.string());
    if (existing != folder) continue;
    // Bundles (also nested ones) and their Contents folders.
    for (auto it = fs::recursive_directory_iterator(
             folder, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code typeError;
      if (!it->is_directory(typeError)) continue;
      queue_->addPath(it->path().string());
      // Below a bundle only its Contents folder matters.
      if (it->path().extension() == ".bundle") {
        queue_->addPath((it->path() / "Contents").string());
        it.disable_recursion_pending();
      }
    }
  }
}

void DeviceBundleWatch::VDKQueueReceivedNotification(platform::VDKQueue&, std::string_view,
                                                     const std::string&) {
  auto& loop = platform::RunLoop::main();
  if (timer_) loop.cancelTimer(timer_);
  timer_ = loop.addTimer(settle_, [this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.lock()) return;
    timer_ = 0;
    // Folders made meanwhile are watched from now on.
    watch();
    if (changed_) changed_();
  });
}

}  // namespace zv::agent
