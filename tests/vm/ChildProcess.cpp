#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <fstream>
#include <set>
#include <sstream>

#include "Wait.h"

extern char** environ;

namespace zv::vmtest {

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                  const std::string& logPath, std::string* problem,
                                                  const std::vector<std::string>& extraEnv) {
  if (argv.empty()) {
    *problem = "no program to start";
    return nullptr;
  }
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // A variable given in `extraEnv` replaces the inherited one: getenv() answers the first
  // entry of a name, so both in the list would leave the inherited value in force.
  auto named = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::set<std::string> replaced;
  for (const auto& entry : extraEnv) replaced.insert(named(entry));
  std::vector<char*> env;
  for (char** entry = environ; *entry; ++entry) {
    if (!replaced.count(named(*entry))) env.push_back(*entry);
  }
  for (const auto& entry : extraEnv) env.push_back(const_cast<char*>(entry.c_str()));
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    *problem = "cannot start " + argv[0] + ": " + std::strerror(error);
    return nullptr;
  }
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, logPath));
}

ChildProcess::~ChildProcess() {
  if (running()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

bool ChildProcess::signal(int number) {
  return !status_ && ::kill(pid_, number) == 0;
}

bool ChildProcess::running() {
  if (status_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
  return !status_;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds bound) {
  waitUntil([this] { return !running(); }, bound);
  return status_;
}

std::string ChildProcess::describeStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "ended with wait status " + std::to_string(status);
}

std::string ChildProcess::outputTail(int lines) const {
  std::ifstream in(logPath_);
  std::deque<std::string> tail;
  for (std::string line; std::getline(in, line);) {
    tail.push_back(line);
    if (static_cast<int>(tail.size()) > lines) tail.pop_front();
  }
  std::string text;
  for (const auto& line : tail) text += "\n    | " + line;
  return text;
}

std::string ChildProcess::output() const {
  std::ifstream in(logPath_);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds bound) {
  bool seen = false;
  waitUntil(
      [&] {
        seen = output().find(text) != std::string::npos;
        return seen || !running();
      },
      bound);
  return seen || output().find(text) != std::string::npos;
}

}  // namespace zv::vmtest
