// Who may connect to a driver's socket, decided from the peer's credentials at connect
// time: root, the user the daemon runs as, and the user of the active session on the
// mouse's seat. Anyone else gets kReturnNotPrivileged in the greeting.
//
// The active session is asked at every connect, so a user switch takes effect for the next
// connection; connections already open stay open.
#pragma once

#include <sys/types.h>

#include <string>

#include "daemon/SeatSessions.h"

namespace zv::driver {

class AccessRule {
 public:
  AccessRule(std::string seat, uid_t daemonUid, SeatSessions& sessions)
      : seat_(std::move(seat)), daemonUid_(daemonUid), sessions_(sessions) {}

  struct Decision {
    bool allowed = false;
    std::string reason;  // why, in words for the log: "root", "active user of seat0", ...
  };
  Decision decide(uid_t peer) const;

  const std::string& seat() const { return seat_; }

 private:
  std::string seat_;
  uid_t daemonUid_;
  SeatSessions& sessions_;
};

}  // namespace zv::driver
