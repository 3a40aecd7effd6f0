// How the kernel's inotify events become file-watch notifications. Header-only: the
// settings window compiles its own copy of the file watch from the same text.
//
// A watch follows the file object, not its name, as inotify does: the watch is put on
// the object that the entry's descriptor holds. For a file the entry keeps an
// O_PATH descriptor open, so its size and link count can be read with fstat() at each
// event. That descriptor also holds back the kernel's IN_DELETE_SELF until it is
// closed, so a file whose last name goes away (deleted, or replaced by a rename onto
// its name) is recognised by the IN_ATTRIB that the link-count change causes and a
// link count of zero. A folder keeps no descriptor, because one would also hold back
// the report of its removal, for which there is no other event.
//
//   inotify event                                  notification bit
//   IN_MOVE_SELF                                   rename
//   IN_MODIFY; in a folder IN_CREATE, IN_DELETE,   write
//     IN_MOVED_FROM, IN_MOVED_TO of an entry
//   IN_DELETE_SELF, IN_UNMOUNT, link count now 0   delete (once per entry)
//   IN_ATTRIB                                      attributes changed
//   size (fstat) larger than at the last event     size increase
//   link count (fstat) changed; in a folder a      link count changed
//     subfolder created, deleted or moved
//   IN_UNMOUNT                                     access revoked
//
// Events read together from the inotify descriptor are merged per watch into one
// event, so changes that pile up while the watcher is busy are reported together, each
// notification once, in delivery order.
#pragma once

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/VDKQueueNotifications.h"

namespace zv::platform::inotify {

// Every watch asks for all of these; each entry's subscription filters afterwards, so
// entries of different queues can share the kernel's one watch per object.
inline constexpr std::uint32_t kWatchMask = IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF |
                                            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

inline constexpr std::uint32_t kFolderEntriesChanged =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

// What one read of the inotify descriptor said about one watch, merged.
struct WatchEvent {
  int wd = -1;
  std::uint32_t selfMask = 0;   // events about the watched object itself
  std::uint32_t childMask = 0;  // events about entries of a watched folder
  bool subfolderChanged = false;
};

// Splits what read() returned into merged events per watch, in the order each watch
// first appears. Answers whether the kernel reported lost events (queue overflow).
inline bool collectEvents(const char* data, std::size_t size, std::vector<WatchEvent>& events) {
  bool overflow = false;
  std::unordered_map<int, std::size_t> index;
  std::size_t offset = 0;
  while (offset + sizeof(inotify_event) <= size) {
    inotify_event header;
    std::memcpy(&header, data + offset, sizeof header);
    offset += sizeof header + header.len;
    if (header.mask & IN_Q_OVERFLOW) {
      overflow = true;
      continue;
    }
    auto [it, added] = index.try_emplace(header.wd, events.size());
    if (added) events.push_back(WatchEvent{header.wd});
    WatchEvent& event = events[it->second];
    if (header.len == 0) {
      event.selfMask |= header.mask;
    } else {
      event.childMask |= header.mask;
      if ((header.mask & IN_ISDIR) && (header.mask & kFolderEntriesChanged)) {
        event.subfolderChanged = true;
      }
    }
  }
  return overflow;
}

// The state of one watched object, kept by its entry. After open() only the watcher
// thread touches it.
class WatchedObject {
 public:
  WatchedObject() = default;
  WatchedObject(const WatchedObject&) = delete;
  WatchedObject& operator=(const WatchedObject&) = delete;
  ~WatchedObject() { close(); }

  // Opens the object at `path` (following symbolic links) for watching only; needs no
  // read permission. Answers false when there is nothing to open.
  bool open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      close();
      return false;
    }
    isFolder_ = S_ISDIR(st.st_mode);
    lastSize_ = st.st_size;
    lastLinkCount_ = st.st_nlink;
    return true;
  }

  // Puts a watch on exactly the opened object (through /proc/self/fd, so a rename of
  // the path in the meantime cannot make the watch land on another file). Answers the
  // watch descriptor, or -1. A folder's descriptor is closed afterwards (see above).
  int addWatch(int inotifyFd, const std::string& path) {
    if (fd_ < 0) return -1;
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    int wd = ::inotify_add_watch(inotifyFd, self.c_str(), kWatchMask);
    if (wd < 0 && errno == ENOENT) wd = ::inotify_add_watch(inotifyFd, path.c_str(), kWatchMask);
    if (isFolder_) close();
    return wd;
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd() const { return fd_; }
  bool isFolder() const { return isFolder_; }

  // The notification bits an event stands for, before any subscription is applied.
  std::uint32_t observe(const WatchEvent& event) {
    std::uint32_t bits = 0;
    const std::uint32_t self = event.selfMask;
    if (self & IN_MOVE_SELF) bits |= VDKQueueNotifyAboutRename;
    if ((self & IN_MODIFY) || (isFolder_ && (event.childMask & kFolderEntriesChanged))) {
      bits |= VDKQueueNotifyAboutWrite;
    }
    if (self & (IN_DELETE_SELF | IN_UNMOUNT)) bits |= VDKQueueNotifyAboutDelete;
    if (self & IN_ATTRIB) bits |= VDKQueueNotifyAboutAttributeChange;
    if (self & IN_UNMOUNT) bits |= VDKQueueNotifyAboutAccessRevocation;
    if (isFolder_ && event.subfolderChanged) bits |= VDKQueueNotifyAboutLinkCountChanged;
    bits |= compareWithLastSeen();
    return suppressRepeatedDeletion(bits);
  }

  // After the kernel dropped events: anything may have changed, so report a write and
  // whatever the object's own state shows.
  std::uint32_t observeLostEvents() {
    return suppressRepeatedDeletion(VDKQueueNotifyAboutWrite | compareWithLastSeen());
  }

 private:
  std::uint32_t compareWithLastSeen() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    std::uint32_t bits = 0;
    if (st.st_size > lastSize_) bits |= VDKQueueNotifyAboutSizeIncrease;
    lastSize_ = st.st_size;
    if (st.st_nlink != lastLinkCount_) bits |= VDKQueueNotifyAboutLinkCountChanged;
    lastLinkCount_ = st.st_nlink;
    if (st.st_nlink == 0) bits |= VDKQueueNotifyAboutDelete;
    return bits;
  }

  std::uint32_t suppressRepeatedDeletion(std::uint32_t bits) {
    if (bits & VDKQueueNotifyAboutDelete) {
      if (deletionReported_) bits &= ~VDKQueueNotifyAboutDelete;
      deletionReported_ = true;
    }
    return bits;
  }

  int fd_ = -1;
  bool isFolder_ = false;
  off_t lastSize_ = 0;
  nlink_t lastLinkCount_ = 0;
  bool deletionReported_ = false;
};

}  // namespace zv::platform::inotify
