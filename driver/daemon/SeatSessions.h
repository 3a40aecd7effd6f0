// Who sits at a seat: the uid of the seat's active session. LoginSeatSessions asks
// systemd-logind (sd-login); tests use a fake.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace zv::driver {

class SeatSessions {
 public:
  virtual ~SeatSessions() = default;
  // The uid of the active session on `seat`, or nothing when the seat has none (nobody
  // logged in, no logind).
  virtual std::optional<uid_t> activeUid(const std::string& seat) = 0;
};

}  // namespace zv::driver
