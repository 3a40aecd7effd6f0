// A program run by a test or by the guest of the vm test: started with fork and exec, with
// extra environment variables, optionally as another user (tests run as root on the build
// machines, and some peers, such as compositors, refuse to run as root), its standard
// output and error sent to a file that the test can read back to show what the program
// said. The process is ended (SIGTERM, then SIGKILL) and reaped when the object goes away.
//
// The library's own way of starting programs (platform/SpawnProcess.h) is a different
// thing: it hands the child's end to a run loop and owns nothing; this one belongs to the
// test that waits for it.
//
// Not thread-safe: one thread starts, signals and waits for a child.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"

namespace zv::testing {

struct ChildOptions {
  // Added to the test's own environment; a name given here replaces the inherited one.
  std::map<std::string, std::string> environment;
  std::optional<uid_t> uid;  // with gid: run as this user (needs root)
  std::optional<gid_t> gid;
  std::filesystem::path output = "/dev/null";  // standard output and error
  bool freshOutput = false;                    // empty `output` first instead of appending
  // Instead of /dev/null and `output`: descriptors (pipe ends) for standard input and
  // output; standard error still goes to `output`.
  int standardInput = -1;
  int standardOutput = -1;
  // Kept open in the child (for example the write end of a pipe the child reports on).
  std::vector<int> keepDescriptors;
};

class ChildProcess {
 public:
  // The running child; a failure saying why when fork fails or the program cannot be
  // executed ("cannot start /no/such/program: No such file or directory").
  static base::Result<ChildProcess> start(const std::vector<std::string>& argv,
                                          const ChildOptions& options = {});
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // Sends `signal`; false when the process has ended.
  bool signal(int signal);
  bool running();
  // Waits for the end (up to `patience`; a safety net, not a measure) and answers the wait
  // status, also on later calls; nothing when it did not end in time.
  std::optional<int> wait(std::chrono::milliseconds patience);
  // SIGTERM, and SIGKILL when it has not ended after a while; then reaped.
  void stop();

  // What the child wrote to `output` so far; its last `lines` lines, each on a line of its
  // own after "    | " (for a failure message).
  std::string output() const;
  std::string outputTail(int lines = 15) const;
  // True once the output holds `text`; false when the child ended or `patience` passed
  // first.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds patience);

  // "exited with status 1", "killed by signal 9".
  static std::string describeStatus(int status);

 private:
  ChildProcess(pid_t pid, std::filesystem::path output) : pid_(pid), output_(std::move(output)) {}

  pid_t pid_ = -1;
  std::filesystem::path output_;
  std::optional<int> status_;  // once reaped
};

// The uid and gid of "nobody", for peers that refuse to run as root.
std::optional<std::pair<uid_t, gid_t>> nobodyUser();
// The full path of `program` found in $PATH; nothing when it is not installed.
std::optional<std::filesystem::path> findProgram(const std::string& program);

}  // namespace zv::testing
