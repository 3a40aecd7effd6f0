// Helpers for tests of the file watch: a delegate that records what it is told, bounded
// waits on the main run loop, and the file operations other processes perform.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/VDKQueue.h"

namespace zv::platform::testing {

using namespace std::chrono_literals;

// Generous: only a broken watch should ever reach it. Nothing measures time.
inline constexpr auto kPatience = std::chrono::milliseconds(10'000);

struct Heard {
  const VDKQueue* queue;
  std::string notification;
  std::string path;
};

class Recorder : public VDKQueueDelegate {
 public:
  void VDKQueueReceivedNotification(VDKQueue& queue, std::string_view notification,
                                    const std::string& path) override {
    if (!platform::RunLoop::isMainThread()) offMainThread = true;
    heard.push_back({&queue, std::string(notification), path});
    if (onNotification) onNotification(queue, notification, path);
  }

  // The notifications heard for `path`, in order.
  std::vector<std::string> namesFor(const std::string& path) const {
    std::vector<std::string> names;
    for (const auto& h : heard) {
      if (h.path == path) names.push_back(h.notification);
    }
    return names;
  }
  bool heardAbout(const std::string& path) const { return !namesFor(path).empty(); }
  void clear() { heard.clear(); }

  std::vector<Heard> heard;
  bool offMainThread = false;
  std::function<void(VDKQueue&, std::string_view, const std::string&)> onNotification;
};

inline bool waitFor(const std::function<bool()>& condition) {
  return platform::RunLoop::main().runUntil(condition, kPatience);
}

inline void appendTo(const std::filesystem::path& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

// Overwrites the first bytes without changing the size.
inline void overwriteInPlace(const std::filesystem::path& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

// What an atomic save does: a new file renamed onto the name.
inline void replaceByRename(const std::filesystem::path& path, const std::string& bytes) {
  const auto temporary = path.string() + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << temporary;
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  ASSERT_EQ(::rename(temporary.c_str(), path.c_str()), 0) << path;
}

inline int openDescriptorCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

inline int threadCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

// A file watched by its own queue, touched to prove that the watcher has passed a
// point: the watcher reads the kernel's events in order and the main run loop runs
// their deliveries in order, so once the sentinel's write has been heard, every
// change made before it has been delivered, or never will be.
class Sentinel {
 public:
  explicit Sentinel(const std::filesystem::path& path) : path_(path) {
    std::filesystem::create_directories(path.parent_path());
    { std::ofstream(path) << "sentinel"; }
    queue_ = VDKQueue::create();
    queue_->setDelegate(&recorder_);
    queue_->addPath(path_, VDKQueueNotifyAboutWrite);
  }
  ~Sentinel() { queue_->setDelegate(nullptr); }

  // Answers whether the sentinel's write came through.
  [[nodiscard]] bool pass() {
    recorder_.clear();
    appendTo(path_, ".");
    return waitFor([&] { return recorder_.heardAbout(path_); });
  }

 private:
  std::filesystem::path path_;
  Recorder recorder_;
  std::shared_ptr<VDKQueue> queue_;
};

}  // namespace zv::platform::testing
