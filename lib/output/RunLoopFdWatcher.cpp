#include "output/RunLoopFdWatcher.h"

#include <sys/epoll.h>

namespace zv::output {

RunLoopFdWatcher::~RunLoopFdWatcher() {
  std::lock_guard lock(mutex_);
  for (const auto& watch : watches_) loop_.unwatchFd(watch.second);
}

void RunLoopFdWatcher::watch(int fd, std::function<void()> readable) {
  std::lock_guard lock(mutex_);
  if (const auto it = watches_.find(fd); it != watches_.end()) {
    loop_.unwatchFd(it->second);
    watches_.erase(it);
  }
  const platform::RunLoop::WatchId id =
      loop_.watchFd(fd, EPOLLIN, [readable = std::move(readable)](std::uint32_t) { readable(); });
  if (id != 0) watches_.emplace(fd, id);
}

void RunLoopFdWatcher::unwatch(int fd) {
  std::lock_guard lock(mutex_);
  if (const auto it = watches_.find(fd); it != watches_.end()) {
    loop_.unwatchFd(it->second);
    watches_.erase(it);
  }
}

}  // namespace zv::output
