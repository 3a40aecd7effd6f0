// Watches files and folders and tells a delegate, on the main run loop, when they
// change: the way the processes of the suite notice each other's writes.
//
// All queues of a process share one inotify descriptor and one watcher thread, which
// turns kernel events into notifications (see platform/InotifyEvents.h for the mapping)
// and hands them to RunLoop::main(). A watch follows the file object, not the name:
// when a file is replaced (deleted and created again, or saved atomically by renaming
// a new file onto its name), the entry reports the old file's deletion and then stays
// on the old file. To follow the new file, remove the path and add it again.
//
// Thread safety: paths may be added and removed, and the delegate set, from any
// thread. Delegates are called on the main thread only (the process must run
// RunLoop::main()), one change's notifications in a row, in the order of
// kVDKQueueNotificationOrder.
//
// Lifetime: queues and entries are shared objects. Each queue owns its entries; the
// watcher thread holds an entry only while it handles an event for it, so the entry's
// descriptor cannot be closed (and its number reused) under it, and a notification
// waiting for the main thread holds neither the entry nor the queue. Just before each
// notification is handed to the delegate, the main thread checks that the entry is
// still its queue's entry for the path: once removePath() or removeAllPaths() has
// returned on the main thread, or the queue is gone, no notification of the removed
// entry reaches a delegate, even one that the watcher thread had already sent off.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/InotifyEvents.h"
#include "platform/VDKQueueNotifications.h"

namespace zv::platform {

class VDKQueue;
class VDKQueueWatcher;

// Told about changes of a queue's paths. Every operation is optional: the default does
// nothing.
class VDKQueueDelegate {
 public:
  virtual ~VDKQueueDelegate() = default;
  // `VDKQueue:receivedNotification:forPath:` — `notification` is one of the names of
  // VDKQueueNotifications.h, `path` the path as it was added.
  virtual void VDKQueueReceivedNotification(VDKQueue& /*queue*/, std::string_view /*notification*/,
                                            const std::string& /*path*/) {}
};

// One watched path.
class VDKQueuePathEntry {
 public:
  // Opens `path` for watching (initWithPath:andSubscriptionFlags:andQueue:); nothing
  // when it cannot be opened. The kernel watch is set up when a queue adds the entry.
  static std::shared_ptr<VDKQueuePathEntry> create(std::string path, std::uint32_t flags,
                                                   std::weak_ptr<VDKQueue> queue);
  VDKQueuePathEntry(const VDKQueuePathEntry&) = delete;
  VDKQueuePathEntry& operator=(const VDKQueuePathEntry&) = delete;

  const std::string& path() const { return path_; }
  // The descriptor held on a watched file; -1 for a folder, which is watched without
  // one (a descriptor would keep its removal from being reported).
  int watchedFD() const { return object_.fd(); }
  std::uint32_t subscriptionFlags() const { return subscriptionFlags_; }
  void setSubscriptionFlags(std::uint32_t flags) { subscriptionFlags_ = flags; }
  // The queue that owns the entry; nothing once that queue is gone.
  std::shared_ptr<VDKQueue> queue() const { return queue_.lock(); }

 private:
  friend class VDKQueueWatcher;
  VDKQueuePathEntry(std::string path, std::uint32_t flags, std::weak_ptr<VDKQueue> queue)
      : path_(std::move(path)), subscriptionFlags_(flags), queue_(std::move(queue)) {}

  const std::string path_;
  std::atomic<std::uint32_t> subscriptionFlags_;
  const std::weak_ptr<VDKQueue> queue_;
  inotify::WatchedObject object_;  // after registration: the watcher thread's
  int wd_ = -1;                    // guarded by the watcher's lock
};

class VDKQueue : public std::enable_shared_from_this<VDKQueue> {
 public:
  // A new queue with no paths (init); nothing when the process-wide inotify descriptor
  // cannot be created.
  static std::shared_ptr<VDKQueue> create();
  // One queue for the whole process, created on first use and never destroyed.
  static std::shared_ptr<VDKQueue> sharedQueue();
  ~VDKQueue();  // removes every path
  VDKQueue(const VDKQueue&) = delete;
  VDKQueue& operator=(const VDKQueue&) = delete;

  // Watches `path` for every notification, unless it is watched already. A path that
  // does not exist (or an empty one) adds nothing.
  void addPath(const std::string& path);
  // Watches `path` for the notifications of `flags`, unless it is watched already (an
  // existing entry keeps its flags).
  void addPath(const std::string& path, std::uint32_t flags);
  // Watches `path` for `flags`; an existing entry gains the flags it lacks. Answers the
  // entry, or nothing when the path cannot be watched.
  std::shared_ptr<VDKQueuePathEntry> addPathToQueue(const std::string& path, std::uint32_t flags);
  void removePath(const std::string& path);
  void removeAllPaths();
  std::size_t numberOfWatchedPaths() const;

  // The delegate is not owned; clear it (or remove every path) before it goes away.
  VDKQueueDelegate* delegate() const;
  void setDelegate(VDKQueueDelegate* delegate);
  // Stored and readable; the library's queue always tells only its delegate.
  bool alwaysPostNotifications() const { return alwaysPostNotifications_; }
  void setAlwaysPostNotifications(bool flag) { alwaysPostNotifications_ = flag; }

 private:
  friend class VDKQueueWatcher;
  explicit VDKQueue(VDKQueueWatcher& watcher) : watcher_(watcher) {}
  // Whether `entry` still watches its path for this queue (main-thread check before delivery).
  bool isCurrent(const VDKQueuePathEntry& entry) const;

  VDKQueueWatcher& watcher_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<VDKQueuePathEntry>> watchedPathEntries_;
  VDKQueueDelegate* delegate_ = nullptr;
  std::atomic<bool> alwaysPostNotifications_{false};
};

}  // namespace zv::platform
