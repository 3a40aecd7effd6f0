// A program run by a test: started with fork and exec, with extra environment variables,
// optionally as another user (tests run as root on the build machines, and some peers,
// such as compositors, refuse to run as root), its output sent to a file. The process
// is ended (SIGTERM, then SIGKILL) and reaped when the object goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zv::testing {

struct ChildOptions {
  std::map<std::string, std::string> environment;  // added to the test's own
  std::optional<uid_t> uid;                        // with gid: run as this user (needs root)
  std::optional<gid_t> gid;
  std::filesystem::path output = "/dev/null";  // standard output and error
  // Instead of /dev/null and `output`: descriptors (pipe ends) for standard input and
  // output; standard error still goes to `output`.
  int standardInput = -1;
  int standardOutput = -1;
  // Kept open in the child (for example the write end of a pipe the child reports on).
  std::vector<int> keepDescriptors;
};

class ChildProcess {
 public:
  // Nothing when fork fails; a program that cannot be executed exits with status 127.
  static std::optional<ChildProcess> start(const std::vector<std::string>& argv,
                                           const ChildOptions& options = {});
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // Sends `signal`; false when the process is gone.
  bool signal(int signal) const;
  // Waits for the end (up to `patience`; a safety net, not a measure) and answers the
  // wait status; nothing when it did not end in time.
  std::optional<int> wait(std::chrono::milliseconds patience);
  // SIGTERM, and SIGKILL when it has not ended after a while; then reaped.
  void stop();

 private:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  pid_t pid_ = -1;
};

// The uid and gid of "nobody", for peers that refuse to run as root.
std::optional<std::pair<uid_t, gid_t>> nobodyUser();
// The full path of `program` found in $PATH; nothing when it is not installed.
std::optional<std::filesystem::path> findProgram(const std::string& program);

}  // namespace zv::testing
