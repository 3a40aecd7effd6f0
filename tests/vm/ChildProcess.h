// A program of the suite started by the guest (the driver daemon, the agent, the kinetra
// tool), with its standard output and error in a file, so that a failing check can show
// what the program said.
//
// Not thread-safe: one thread starts, signals and waits for a child.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zv::vmtest {

class ChildProcess {
 public:
  // Starts `argv[0]` (a path) with `argv`, the environment of this process with `extraEnv`
  // ("NAME=value") added or replacing, and output going to `logPath`. Null with `*problem` set when
  // it cannot be started.
  static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                             const std::string& logPath, std::string* problem,
                                             const std::vector<std::string>& extraEnv = {});
  // Kills the child (SIGKILL) and reaps it if it is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool signal(int number);
  // The wait status once the child has ended, waiting at most `bound`; nullopt while it
  // still runs.
  std::optional<int> waitForExit(std::chrono::milliseconds bound);
  bool running();
  // "exited with status 1", "killed by signal 9".
  static std::string describeStatus(int status);
  // The last `lines` lines the child wrote.
  std::string outputTail(int lines = 15) const;
  // Everything the child wrote so far.
  std::string output() const;
  // True once the child's output holds `text`; false when it ended or `bound` passed first.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds bound);

 private:
  ChildProcess(pid_t pid, std::string logPath) : pid_(pid), logPath_(std::move(logPath)) {}

  pid_t pid_;
  std::string logPath_;
  std::optional<int> status_;
};

}  // namespace zv::vmtest
