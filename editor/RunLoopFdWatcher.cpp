#include "RunLoopFdWatcher.h"

#include <sys/epoll.h>

namespace zv::editor {

RunLoopFdWatcher::~RunLoopFdWatcher() {
  std::lock_guard lock(mutex_);
  for (const auto& [fd, id] : watches_) loop_.unwatchFd(id);
}

void RunLoopFdWatcher::watch(int fd, std::function<void()> readable) {
  std::lock_guard lock(mutex_);
  if (auto it = watches_.find(fd); it != watches_.end()) loop_.unwatchFd(it->second);
  const auto id =
      loop_.watchFd(fd, EPOLLIN, [readable = std::move(readable)](std::uint32_t) { readable(); });
  if (id != 0) watches_[fd] = id;
}

void RunLoopFdWatcher::unwatch(int fd) {
  std::lock_guard lock(mutex_);
  if (auto it = watches_.find(fd); it != watches_.end()) {
    loop_.unwatchFd(it->second);
    watches_.erase(it);
  }
}

}  // namespace zv::editor
