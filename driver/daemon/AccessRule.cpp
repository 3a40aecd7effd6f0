#include "daemon/AccessRule.h"

namespace zv::driver {

AccessRule::Decision AccessRule::decide(uid_t peer) const {
  if (peer == 0) return {true, "root"};
  if (peer == daemonUid_) return {true, "the driver's own user"};
  const auto active = sessions_.activeUid(seat_);
  if (!active) return {false, "no active session on " + seat_};
  if (*active == peer) return {true, "the active user of " + seat_};
  return {false, "not the active user of " + seat_ + " (uid " + std::to_string(*active) + ")"};
}

}  // namespace zv::driver
