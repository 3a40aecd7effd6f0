#include "platform/ConsoleUser.h"

#include <pwd.h>
#include <systemd/sd-login.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Paths.h"

namespace zv::platform {

std::optional<uid_t> consoleUserFromLogind() {
  char* session = nullptr;
  uid_t uid = 0;
  const int result = sd_seat_get_active("seat0", &session, &uid);
  std::free(session);
  if (result < 0) return std::nullopt;
  return uid;
}

std::filesystem::path consoleUserHomeFolder(const ConsoleUserLookup& lookup) {
  if (const char* home = std::getenv("KINETRA_HOME"); home && *home) return home;
  if (const auto uid = lookup ? lookup() : std::nullopt) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(*uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir) {
      return found->pw_dir;
    }
  }
  return homeFolder();
}

}  // namespace zv::platform
