#include "platform/VDKQueue.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"

namespace zv::platform {

// The process-wide inotify descriptor, the table from kernel watch to entries, and the
// watcher thread. Created with the first queue and never destroyed: the thread runs
// until the process ends.
class VDKQueueWatcher {
 public:
  // Nothing when the kernel refuses an inotify descriptor (a later call tries again).
  static VDKQueueWatcher* shared() {
    static std::mutex classLock;
    static VDKQueueWatcher* watcher = nullptr;
    std::lock_guard lock(classLock);
    if (!watcher) {
      const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
      if (fd >= 0) watcher = new VDKQueueWatcher(fd);
    }
    return watcher;
  }

  // Puts the kernel watch on the entry's object and starts the thread if needed.
  bool add(const std::shared_ptr<VDKQueuePathEntry>& entry) {
    std::lock_guard lock(mutex_);
    const int wd = entry->object_.addWatch(coreQueueFD_, entry->path_);
    if (wd < 0) return false;
    entry->wd_ = wd;
    entriesByWatch_[wd].push_back(entry);
    if (!keepWatcherThreadRunning_) {
      keepWatcherThreadRunning_ = true;
      startThread();
    }
    return true;
  }

  // Ends the kernel watch when no other entry shares it. Events the kernel queued
  // before are dropped by the watcher thread, which finds no entry for them.
  void remove(VDKQueuePathEntry& entry) {
    std::lock_guard lock(mutex_);
    const auto it = entriesByWatch_.find(entry.wd_);
    entry.wd_ = -1;
    if (it == entriesByWatch_.end()) return;
    auto& entries = it->second;
    std::erase_if(entries, [&entry](const std::weak_ptr<VDKQueuePathEntry>& held) {
      const auto alive = held.lock();
      return !alive || alive.get() == &entry;
    });
    if (entries.empty()) {
      ::inotify_rm_watch(coreQueueFD_, it->first);
      entriesByWatch_.erase(it);
    }
  }

 private:
  explicit VDKQueueWatcher(int fd) : coreQueueFD_(fd) {}

  void startThread() {
    // The thread blocks every signal, so that signals meant for the process reach the
    // threads that expect them (or a signalfd of the main run loop).
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread([this] { watch(); }).detach();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }

  void watch() {
    // Large enough for many events at once; aligned for inotify_event.
    alignas(inotify_event) static thread_local char buffer[64 * 1024];
    while (keepWatcherThreadRunning_) {
      try {
        pollfd ready{coreQueueFD_, POLLIN, 0};
        if (::poll(&ready, 1, 10'000) <= 0) continue;
        const ssize_t length = ::read(coreQueueFD_, buffer, sizeof buffer);
        if (length <= 0) continue;
        std::vector<inotify::WatchEvent> events;
        const bool overflow =
            inotify::collectEvents(buffer, static_cast<std::size_t>(length), events);
        for (const auto& event : events) handle(event);
        if (overflow) handleLostEvents();
      } catch (...) {
        // Out of memory, most likely; the next event may fare better.
      }
    }
    ::close(coreQueueFD_);
  }

  void handle(const inotify::WatchEvent& event) {
    std::vector<std::shared_ptr<VDKQueuePathEntry>> entries;
    {
      std::lock_guard lock(mutex_);
      const auto it = entriesByWatch_.find(event.wd);
      if (it == entriesByWatch_.end()) return;  // removed meanwhile
      for (const auto& held : it->second) {
        if (auto entry = held.lock()) entries.push_back(std::move(entry));
      }
      if (event.selfMask & IN_IGNORED) {  // the kernel ended the watch (object gone)
        for (const auto& entry : entries) entry->wd_ = -1;
        entriesByWatch_.erase(it);
      }
    }
    for (const auto& entry : entries) {
      report(entry, entry->object_.observe(event));
    }
  }

  void handleLostEvents() {
    std::vector<std::shared_ptr<VDKQueuePathEntry>> entries;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [wd, held] : entriesByWatch_) {
        for (const auto& weak : held) {
          if (auto entry = weak.lock()) entries.push_back(std::move(entry));
        }
      }
    }
    for (const auto& entry : entries) report(entry, entry->object_.observeLostEvents());
  }

  static void report(const std::shared_ptr<VDKQueuePathEntry>& entry, std::uint32_t bits) {
    bits &= entry->subscriptionFlags();
    if (bits == 0) return;
    RunLoop::main().post(
        [weak = std::weak_ptr<VDKQueuePathEntry>(entry), path = entry->path_,
         names = VDKQueueNotificationsForBits(bits)] { deliver(weak, path, names); });
  }

  // On the main thread.
  static void deliver(const std::weak_ptr<VDKQueuePathEntry>& weak, const std::string& path,
                      const std::vector<std::string_view>& names) {
    const auto entry = weak.lock();
    if (!entry) return;
    const auto queue = entry->queue();
    if (!queue) return;
    for (const auto name : names) {
      // Checked before each one: a delegate may remove the path while handling the
      // first notification of a change, and then hears nothing more of the old entry.
      if (!queue->isCurrent(*entry)) return;
      if (VDKQueueDelegate* delegate = queue->delegate()) {
        delegate->VDKQueueReceivedNotification(*queue, name, path);
      }
    }
  }

  const int coreQueueFD_;
  std::atomic<bool> keepWatcherThreadRunning_{false};  // set once, never cleared
  std::mutex mutex_;
  std::unordered_map<int, std::vector<std::weak_ptr<VDKQueuePathEntry>>> entriesByWatch_;
};

std::shared_ptr<VDKQueuePathEntry> VDKQueuePathEntry::create(std::string path, std::uint32_t flags,
                                                             std::weak_ptr<VDKQueue> queue) {
  std::shared_ptr<VDKQueuePathEntry> entry(
      new VDKQueuePathEntry(std::move(path), flags, std::move(queue)));
  if (!entry->object_.open(entry->path_)) return nullptr;
  return entry;
}

std::shared_ptr<VDKQueue> VDKQueue::create() {
  VDKQueueWatcher* watcher = VDKQueueWatcher::shared();
  if (!watcher) return nullptr;
  return std::shared_ptr<VDKQueue>(new VDKQueue(*watcher));
}

std::shared_ptr<VDKQueue> VDKQueue::sharedQueue() {
  static std::mutex lock;
  // Never destroyed, like the watcher: notifications may still be on their way at exit.
  static auto* shared = new std::shared_ptr<VDKQueue>;
  std::lock_guard guard(lock);
  if (!*shared) *shared = create();
  return *shared;
}

VDKQueue::~VDKQueue() {
  removeAllPaths();
}

void VDKQueue::addPath(const std::string& path) {
  addPath(path, VDKQueueNotifyDefault);
}

void VDKQueue::addPath(const std::string& path, std::uint32_t flags) {
  {
    std::lock_guard lock(mutex_);
    if (watchedPathEntries_.count(path)) return;
  }
  addPathToQueue(path, flags);
}

std::shared_ptr<VDKQueuePathEntry> VDKQueue::addPathToQueue(const std::string& path,
                                                            std::uint32_t flags) {
  if (path.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  if (const auto it = watchedPathEntries_.find(path); it != watchedPathEntries_.end()) {
    const auto& entry = it->second;
    entry->setSubscriptionFlags(entry->subscriptionFlags() | flags);
    return entry;
  }
  auto entry = VDKQueuePathEntry::create(path, flags, weak_from_this());
  if (!entry || !watcher_.add(entry)) return nullptr;
  watchedPathEntries_.emplace(path, entry);
  return entry;
}

void VDKQueue::removePath(const std::string& path) {
  std::shared_ptr<VDKQueuePathEntry> entry;  // dropped after the lock is released
  std::lock_guard lock(mutex_);
  const auto it = watchedPathEntries_.find(path);
  if (it == watchedPathEntries_.end()) return;
  entry = std::move(it->second);
  watchedPathEntries_.erase(it);
  watcher_.remove(*entry);
}

void VDKQueue::removeAllPaths() {
  std::unordered_map<std::string, std::shared_ptr<VDKQueuePathEntry>> entries;
  std::lock_guard lock(mutex_);
  entries.swap(watchedPathEntries_);
  for (const auto& [path, entry] : entries) watcher_.remove(*entry);
}

std::size_t VDKQueue::numberOfWatchedPaths() const {
  std::lock_guard lock(mutex_);
  return watchedPathEntries_.size();
}

VDKQueueDelegate* VDKQueue::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void VDKQueue::setDelegate(VDKQueueDelegate* delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

bool VDKQueue::isCurrent(const VDKQueuePathEntry& entry) const {
  std::lock_guard lock(mutex_);
  const auto it = watchedPathEntries_.find(entry.path());
  return it != watchedPathEntries_.end() && it->second.get() == &entry;
}

}  // namespace zv::platform
