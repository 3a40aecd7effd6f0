// The active session of a seat from systemd-logind (sd_seat_get_active).
#pragma once

#include "daemon/SeatSessions.h"

namespace zv::driver {

class LoginSeatSessions : public SeatSessions {
 public:
  std::optional<uid_t> activeUid(const std::string& seat) override;
};

}  // namespace zv::driver
