// Seats and their active users as a test declares them. Thread-safe enough for tests that
// change it between connections.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "daemon/SeatSessions.h"

namespace zv::driver {

class FakeSeatSessions : public SeatSessions {
 public:
  std::optional<uid_t> activeUid(const std::string& seat) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = active_.find(seat);
    if (found == active_.end()) return std::nullopt;
    return found->second;
  }
  void setActive(const std::string& seat, uid_t uid) {
    std::lock_guard<std::mutex> lock(mutex_);
    active_[seat] = uid;
  }
  void clear(const std::string& seat) {
    std::lock_guard<std::mutex> lock(mutex_);
    active_.erase(seat);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, uid_t> active_;
};

}  // namespace zv::driver
