// The log lines of refused clients, rate-limited: a user the driver refuses may connect
// thousands of times a second, and each refusal would otherwise write a line of the
// system log. Per peer uid (and reason), the first refusal of an interval is logged; the
// ones after it in the same interval are only counted, and the count is said with the
// next line logged for that uid and reason.
//
// Plain logic: the caller passes the time, so tests need no clock.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace zv::driver {

class RefusalLog {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::seconds kInterval{10};
  // The uids remembered at once; beyond that the oldest intervals are forgotten.
  static constexpr std::size_t kRememberedUids = 1024;

  // The line to log for this refusal ("refused a client: uid 1000 (pid 42) is not …"),
  // or nothing while the uid's interval runs.
  std::optional<std::string> refused(uid_t uid, pid_t pid, const std::string& reason,
                                     TimePoint now);

 private:
  struct Interval {
    TimePoint start;
    std::size_t unlogged = 0;
  };
  void forgetOldest();
  std::map<std::pair<uid_t, std::string>, Interval> intervals_;
};

}  // namespace zv::driver
