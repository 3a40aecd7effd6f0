// One agent per user and device: a second perch (the autostart entry and the user unit
// both in place, or a user starting it by hand) would run every command twice. The first
// holds an advisory lock on "perch-<uid>-<alias>.lock" in the runtime folder
// ($XDG_RUNTIME_DIR) for as long as it runs; the kernel drops the lock when the process
// ends, however it ends.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "base/Result.h"

namespace zv::agent {

class InstanceLock {
 public:
  // The lock for `alias`. A failure in the domain kInstanceLockDomain, code kHeld, when
  // another process holds it (its message names that process when it can); another
  // failure when the file cannot be made (the agent may then run unlocked).
  static base::Result<std::unique_ptr<InstanceLock>> acquire(const std::string& alias);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  static constexpr const char* kInstanceLockDomain = "InstanceLock";
  static constexpr int kHeld = 1;

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace zv::agent
