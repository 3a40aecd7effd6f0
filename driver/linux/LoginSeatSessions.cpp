#include "linux/LoginSeatSessions.h"

#include <systemd/sd-login.h>

namespace zv::driver {

std::optional<uid_t> LoginSeatSessions::activeUid(const std::string& seat) {
  uid_t uid;
  if (sd_seat_get_active(seat.c_str(), nullptr, &uid) < 0) return std::nullopt;
  return uid;
}

}  // namespace zv::driver
