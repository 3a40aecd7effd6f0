#include "com_Zenvor_VDKQueue_Skarn.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>

#include "platform/RunLoop.h"

namespace zv::pane {

std::shared_ptr<VDKQueuePathEntry> VDKQueuePathEntry::create(std::string path,
                                                             std::uint32_t flags) {
  std::shared_ptr<VDKQueuePathEntry> entry(new VDKQueuePathEntry(std::move(path), flags));
  if (!entry->object_.open(entry->path_)) return nullptr;
  return entry;
}

std::shared_ptr<com_Zenvor_VDKQueue_Skarn> com_Zenvor_VDKQueue_Skarn::create() {
  const int inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (inotifyFd < 0) return nullptr;
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    ::close(inotifyFd);
    return nullptr;
  }
  return std::shared_ptr<com_Zenvor_VDKQueue_Skarn>(
      new com_Zenvor_VDKQueue_Skarn(inotifyFd, wakeFd));
}

com_Zenvor_VDKQueue_Skarn::~com_Zenvor_VDKQueue_Skarn() {
  // The thread holds no reference to the queue, so this never runs on it.
  if (thread_.joinable()) {
    keepWatcherThreadRunning_ = false;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFD_, &one, sizeof one);
    thread_.join();
  }
  removeAllPaths();
  ::close(wakeFD_);
  ::close(coreQueueFD_);
}

support::NotificationCenter& com_Zenvor_VDKQueue_Skarn::workspaceNotificationCenter() {
  static support::NotificationCenter* const center = new support::NotificationCenter;
  return *center;
}

void com_Zenvor_VDKQueue_Skarn::addPath(const std::string& path) {
  addPath(path, platform::VDKQueueNotifyDefault);
}

void com_Zenvor_VDKQueue_Skarn::addPath(const std::string& path, std::uint32_t flags) {
  {
    std::lock_guard lock(mutex_);
    if (watchedPathEntries_.count(path)) return;
  }
  addPathToQueue(path, flags);
}

std::shared_ptr<VDKQueuePathEntry> com_Zenvor_VDKQueue_Skarn::addPathToQueue(
    const std::string& path, std::uint32_t flags) {
  if (path.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  if (const auto it = watchedPathEntries_.find(path); it != watchedPathEntries_.end()) {
    it->second->setSubscriptionFlags(it->second->subscriptionFlags() | flags);
    return it->second;
  }
  auto entry = VDKQueuePathEntry::create(path, flags);
  if (!entry) return nullptr;
  const int wd = entry->object_.addWatch(coreQueueFD_, path);
  if (wd < 0) return nullptr;
  entry->wd_ = wd;
  entriesByWatch_[wd].push_back(entry);
  watchedPathEntries_.emplace(path, entry);
  if (!keepWatcherThreadRunning_) {
    keepWatcherThreadRunning_ = true;
    // Signals stay with the threads that expect them (see the library's queue).
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    thread_ = std::thread([this] { watcherThread(); });
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  return entry;
}

void com_Zenvor_VDKQueue_Skarn::forgetLocked(VDKQueuePathEntry& entry) {
  const auto it = entriesByWatch_.find(entry.wd_);
  entry.wd_ = -1;
  if (it == entriesByWatch_.end()) return;
  std::erase_if(it->second, [&entry](const std::weak_ptr<VDKQueuePathEntry>& held) {
    const auto alive = held.lock();
    return !alive || alive.get() == &entry;
  });
  if (it->second.empty()) {
    ::inotify_rm_watch(coreQueueFD_, it->first);
    entriesByWatch_.erase(it);
  }
}

void com_Zenvor_VDKQueue_Skarn::removePath(const std::string& path) {
  std::shared_ptr<VDKQueuePathEntry> entry;  // dropped after the lock is released
  std::lock_guard lock(mutex_);
  const auto it = watchedPathEntries_.find(path);
  if (it == watchedPathEntries_.end()) return;
  entry = std::move(it->second);
  watchedPathEntries_.erase(it);
  forgetLocked(*entry);
}

void com_Zenvor_VDKQueue_Skarn::removeAllPaths() {
  std::unordered_map<std::string, std::shared_ptr<VDKQueuePathEntry>> entries;
  std::lock_guard lock(mutex_);
  entries.swap(watchedPathEntries_);
  for (const auto& [path, entry] : entries) forgetLocked(*entry);
}

std::size_t com_Zenvor_VDKQueue_Skarn::numberOfWatchedPaths() const {
  std::lock_guard lock(mutex_);
  return watchedPathEntries_.size();
}

com_Zenvor_VDKQueue_SkarnDelegate* com_Zenvor_VDKQueue_Skarn::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void com_Zenvor_VDKQueue_Skarn::setDelegate(com_Zenvor_VDKQueue_SkarnDelegate* delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

bool com_Zenvor_VDKQueue_Skarn::isCurrent(const VDKQueuePathEntry& entry) const {
  std::lock_guard lock(mutex_);
  const auto it = watchedPathEntries_.find(entry.path());
  return it != watchedPathEntries_.end() && it->second.get() == &entry;
}

void com_Zenvor_VDKQueue_Skarn::watcherThread() {
  alignas(inotify_event) char buffer[64 * 1024];
  while (keepWatcherThreadRunning_) {
    try {
      pollfd ready[2] = {{coreQueueFD_, POLLIN, 0}, {wakeFD_, POLLIN, 0}};
      if (::poll(ready, 2, 10'000) <= 0 || ready[1].revents) continue;
      const ssize_t length = ::read(coreQueueFD_, buffer, sizeof buffer);
      if (length <= 0) continue;
      std::vector<platform::inotify::WatchEvent> events;
      const bool overflow =
          platform::inotify::collectEvents(buffer, static_cast<std::size_t>(length), events);
      for (const auto& event : events) handle(event);
      if (overflow) handleLostEvents();
    } catch (...) {
      // Out of memory, most likely; the next event may fare better.
    }
  }
}

void com_Zenvor_VDKQueue_Skarn::handle(const platform::inotify::WatchEvent& event) {
  std::vector<std::shared_ptr<VDKQueuePathEntry>> entries;
  {
    std::lock_guard lock(mutex_);
    const auto it = entriesByWatch_.find(event.wd);
    if (it == entriesByWatch_.end()) return;
    for (const auto& held : it->second) {
      if (auto entry = held.lock()) entries.push_back(std::move(entry));
    }
    if (event.selfMask & IN_IGNORED) {
      for (const auto& entry : entries) entry->wd_ = -1;
      entriesByWatch_.erase(it);
    }
  }
  for (const auto& entry : entries) report(entry, entry->object_.observe(event));
}

void com_Zenvor_VDKQueue_Skarn::handleLostEvents() {
  std::vector<std::shared_ptr<VDKQueuePathEntry>> entries;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [path, entry] : watchedPathEntries_) entries.push_back(entry);
  }
  for (const auto& entry : entries) report(entry, entry->object_.observeLostEvents());
}

void com_Zenvor_VDKQueue_Skarn::report(const std::shared_ptr<VDKQueuePathEntry>& entry,
                                       std::uint32_t bits) {
  bits &= entry->subscriptionFlags();
  if (bits == 0) return;
  platform::RunLoop::main().post([queue = weak_from_this(),
                                  weakEntry = std::weak_ptr<VDKQueuePathEntry>(entry),
                                  names = platform::VDKQueueNotificationsForBits(bits)] {
    const auto self = queue.lock();
    const auto current = weakEntry.lock();
    if (self && current) self->deliver(*current, names);
  });
}

void com_Zenvor_VDKQueue_Skarn::deliver(const VDKQueuePathEntry& entry,
                                        const std::vector<std::string_view>& names) {
  for (const auto name : names) {
    if (!isCurrent(entry)) return;
    com_Zenvor_VDKQueue_SkarnDelegate* const target = delegate();
    if (target) target->com_Zenvor_VDKQueue_SkarnReceivedNotification(*this, name, entry.path());
    if (!target || alwaysPostNotifications_) {
      auto info = json::makeDictionary();
      info->set("path", entry.path());
      workspaceNotificationCenter().post(name, this, json::Value(info));
    }
  }
}

}  // namespace zv::pane
