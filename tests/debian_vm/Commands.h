// Programs of the guest's system run to their end (apt-get, systemctl, the suite's kinetra),
// as root or as one of the machine's users, with what they printed kept for the checks and
// for failure messages.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace zv::vmtest {

// The machine's users (made with the image): "player" sits at seat0 (logged in on tty1 at
// boot); "visitor" has no session there.
struct GuestUser {
  std::string name;
  uid_t uid;
  std::string home() const { return "/home/" + name; }
  std::string runtimeDir() const { return "/run/user/" + std::to_string(uid); }
};
inline const GuestUser kPlayer{"player", 1000};
inline const GuestUser kVisitor{"visitor", 1001};

struct CommandResult {
  bool finished = false;  // false: still running after the bound, killed
  int status = -1;        // the exit status once finished (128 + N when killed by signal N)
  std::string output;     // standard output and error together

  bool ok() const { return finished && status == 0; }
  // "`apt-get install …` exited with status 100: <last lines>", for failure messages.
  std::string describe(const std::vector<std::string>& argv) const;
};

// Runs `argv` (argv[0] a path, or a name looked up in /usr/sbin, /usr/bin, /sbin, /bin)
// and waits at most `bound` for its end.
CommandResult runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds bound);

// The same command run as `user`, through setpriv: that user's ids and groups, a login
// environment (HOME, USER, PATH) and XDG_RUNTIME_DIR, which `systemctl --user` needs.
std::vector<std::string> asUser(const GuestUser& user, std::vector<std::string> argv);

// Runs `argv` and fails the running check with its output unless it exits with status 0;
// answers its output.
std::string expectCommand(const std::vector<std::string>& argv, std::chrono::milliseconds bound);

// The last `lines` lines of `text`, each indented, for failure messages.
std::string lastLines(const std::string& text, int lines = 15);

}  // namespace zv::vmtest
