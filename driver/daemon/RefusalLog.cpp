#include "daemon/RefusalLog.h"

#include <algorithm>

namespace zv::driver {

std::optional<std::string> RefusalLog::refused(uid_t uid, pid_t pid, const std::string& reason,
                                               TimePoint now) {
  const auto key = std::make_pair(uid, reason);
  const auto found = intervals_.find(key);
  if (found != intervals_.end() && now - found->second.start < kInterval) {
    ++found->second.unlogged;
    return std::nullopt;
  }
  std::string line = "refused a client: uid " + std::to_string(uid) + " (pid " +
                     std::to_string(pid) + ") is " + reason;
  if (found != intervals_.end() && found->second.unlogged > 0) {
    line += " (and " + std::to_string(found->second.unlogged) + " more of uid " +
            std::to_string(uid) + " since the last line)";
  }
  if (found == intervals_.end() && intervals_.size() >= kRememberedUids) forgetOldest();
  intervals_[key] = Interval{now, 0};
  return line + "\n";
}

void RefusalLog::forgetOldest() {
  const auto oldest = std::min_element(
      intervals_.begin(), intervals_.end(),
      [](const auto& a, const auto& b) { return a.second.start < b.second.start; });
  if (oldest != intervals_.end()) intervals_.erase(oldest);
}

}  // namespace zv::driver
