// The settings window's own file watch. It behaves as the library's VDKQueue (same
// subscription bits, notification names, order and inotify mapping: the mapping is
// compiled from the library's header-only platform/InotifyEvents.h), with these
// differences:
//   - each queue has its own inotify descriptor and its own watcher thread, which the
//     queue stops and joins when it goes away;
//   - entries carry no queue;
//   - the delegate operation is com_Zenvor_VDKQueue_SkarnReceivedNotification;
//   - when the queue has no delegate, or alwaysPostNotifications() is set, each
//     notification is also posted on workspaceNotificationCenter(), with the queue as
//     sender and {"path": path} as user information.
//
// Notifications arrive on the main thread through RunLoop::main(), whose descriptor the
// settings window's event loop watches. Paths may be added and removed from any
// thread; once removePath() has returned on the main thread, nothing more is delivered
// for the removed entry.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/InotifyEvents.h"
#include "platform/VDKQueueNotifications.h"
#include "support/NotificationCenter.h"

namespace zv::pane {

class com_Zenvor_VDKQueue_Skarn;

// Every operation is optional: the default does nothing.
class com_Zenvor_VDKQueue_SkarnDelegate {
 public:
  virtual ~com_Zenvor_VDKQueue_SkarnDelegate() = default;
  // `com_Zenvor_VDKQueue_Skarn:receivedNotification:forPath:`, on the main thread.
  virtual void com_Zenvor_VDKQueue_SkarnReceivedNotification(com_Zenvor_VDKQueue_Skarn& /*queue*/,
                                                             std::string_view /*notification*/,
                                                             const std::string& /*path*/) {}
};

// One watched path (initWithPath:andSubscriptionFlags:).
class VDKQueuePathEntry {
 public:
  // Nothing when the path cannot be opened.
  static std::shared_ptr<VDKQueuePathEntry> create(std::string path, std::uint32_t flags);
  VDKQueuePathEntry(const VDKQueuePathEntry&) = delete;
  VDKQueuePathEntry& operator=(const VDKQueuePathEntry&) = delete;

  const std::string& path() const { return path_; }
  int watchedFD() const { return object_.fd(); }  // -1 for a folder
  std::uint32_t subscriptionFlags() const { return subscriptionFlags_; }
  void setSubscriptionFlags(std::uint32_t flags) { subscriptionFlags_ = flags; }

 private:
  friend class com_Zenvor_VDKQueue_Skarn;
  VDKQueuePathEntry(std::string path, std::uint32_t flags)
      : path_(std::move(path)), subscriptionFlags_(flags) {}

  const std::string path_;
  std::atomic<std::uint32_t> subscriptionFlags_;
  platform::inotify::WatchedObject object_;  // after registration: the watcher thread's
  int wd_ = -1;                              // guarded by the queue's lock
};

class com_Zenvor_VDKQueue_Skarn : public std::enable_shared_from_this<com_Zenvor_VDKQueue_Skarn> {
 public:
  // A queue with its own inotify descriptor; nothing when the kernel refuses one.
  static std::shared_ptr<com_Zenvor_VDKQueue_Skarn> create();
  // Stops the watcher thread, removes every path and closes the descriptor.
  ~com_Zenvor_VDKQueue_Skarn();
  com_Zenvor_VDKQueue_Skarn(const com_Zenvor_VDKQueue_Skarn&) = delete;
  com_Zenvor_VDKQueue_Skarn& operator=(const com_Zenvor_VDKQueue_Skarn&) = delete;

  void addPath(const std::string& path);
  void addPath(const std::string& path, std::uint32_t flags);
  std::shared_ptr<VDKQueuePathEntry> addPathToQueue(const std::string& path, std::uint32_t flags);
  void removePath(const std::string& path);
  void removeAllPaths();
  std::size_t numberOfWatchedPaths() const;

  com_Zenvor_VDKQueue_SkarnDelegate* delegate() const;
  void setDelegate(com_Zenvor_VDKQueue_SkarnDelegate* delegate);
  bool alwaysPostNotifications() const { return alwaysPostNotifications_; }
  void setAlwaysPostNotifications(bool flag) { alwaysPostNotifications_ = flag; }

  // Where notifications are posted for observers other than the delegate (never destroyed).
  static support::NotificationCenter& workspaceNotificationCenter();

 private:
  com_Zenvor_VDKQueue_Skarn(int inotifyFd, int wakeFd) : coreQueueFD_(inotifyFd), wakeFD_(wakeFd) {}
  void watcherThread();
  void handle(const platform::inotify::WatchEvent& event);
  void handleLostEvents();
  void report(const std::shared_ptr<VDKQueuePathEntry>& entry, std::uint32_t bits);
  void deliver(const VDKQueuePathEntry& entry, const std::vector<std::string_view>& names);
  void forgetLocked(VDKQueuePathEntry& entry);
  bool isCurrent(const VDKQueuePathEntry& entry) const;

  const int coreQueueFD_;
  const int wakeFD_;  // tells the watcher thread to end
  std::thread thread_;
  std::atomic<bool> keepWatcherThreadRunning_{false};

  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<VDKQueuePathEntry>> watchedPathEntries_;
  std::unordered_map<int, std::vector<std::weak_ptr<VDKQueuePathEntry>>> entriesByWatch_;
  com_Zenvor_VDKQueue_SkarnDelegate* delegate_ = nullptr;
  std::atomic<bool> alwaysPostNotifications_{false};
};

}  // namespace zv::pane
