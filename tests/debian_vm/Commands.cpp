#include "Commands.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <sstream>

#include "CheckList.h"
#include "testing/ChildProcess.h"

namespace zv::vmtest {
namespace {

std::string resolve(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
    const std::string path = folder + program;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return program;
}

std::string joined(const std::vector<std::string>& argv) {
  std::string text;
  for (const auto& arg : argv) text += (text.empty() ? "" : " ") + arg;
  return text;
}

}  // namespace

std::string lastLines(const std::string& text, int lines) {
  std::istringstream in(text);
  std::deque<std::string> tail;
  for (std::string line; std::getline(in, line);) {
    tail.push_back(line);
    if (static_cast<int>(tail.size()) > lines) tail.pop_front();
  }
  std::string out;
  for (const auto& line : tail) out += "\n    | " + line;
  return out;
}

std::string CommandResult::describe(const std::vector<std::string>& argv) const {
  const std::string what = "`" + joined(argv) + "` ";
  if (!finished) return what + "did not end within its bound" + lastLines(output);
  return what + "exited with status " + std::to_string(status) + lastLines(output);
}

CommandResult runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds bound) {
  static std::atomic<int> serial{0};
  CommandResult result;
  if (argv.empty()) return result;
  std::vector<std::string> resolved = argv;
  resolved[0] = resolve(argv[0]);
  // Output goes to a file rather than a pipe: a service the command starts may keep a
  // pipe open long after the command ended.
  const std::string log = "/tmp/vmtest-command-" + std::to_string(++serial) + ".log";
  testing::ChildOptions options;
  options.output = log;
  options.freshOutput = true;
  options.environment = {{"LC_ALL", "C.UTF-8"}};
  auto child = testing::ChildProcess::start(resolved, options);
  if (!child) {
    result.output = child.failure().message;
    return result;
  }
  const auto status = child->wait(bound);
  result.output = child->output();
  ::unlink(log.c_str());
  if (!status) return result;  // the destructor kills it
  result.finished = true;
  result.status = WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
  return result;
}

std::vector<std::string> asUser(const GuestUser& user, std::vector<std::string> argv) {
  std::vector<std::string> command = {"/usr/bin/setpriv",
                                      "--reuid=" + std::to_string(user.uid),
                                      "--regid=" + std::to_string(user.uid),
                                      "--init-groups",
                                      "--reset-env",
                                      "/usr/bin/env",
                                      "XDG_RUNTIME_DIR=" + user.runtimeDir()};
  argv[0] = resolve(argv[0]);
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
}

std::string expectCommand(const std::vector<std::string>& argv, std::chrono::milliseconds bound) {
  const CommandResult result = runCommand(argv, bound);
  expect(result.ok(), result.describe(argv));
  return result.output;
}

}  // namespace zv::vmtest
