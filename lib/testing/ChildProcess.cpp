#include "testing/ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
#include <thread>

namespace zv::testing {

base::Result<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                               const ChildOptions& options) {
  if (argv.empty()) return base::Failure{base::kSystemDomain, EINVAL, "no program to start"};
  // Everything the child needs is prepared before fork: only async-signal-safe calls
  // may follow it in a process that may have threads.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (!options.environment.count(name)) environment.push_back(text);
  }
  for (const auto& [name, value] : options.environment) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments = argv;
  std::vector<char*> args;
  for (auto& argument : arguments) args.push_back(argument.data());
  args.push_back(nullptr);
  const std::string output = options.output.string();
  const int outputFlags = O_WRONLY | O_CREAT | (options.freshOutput ? O_TRUNC : O_APPEND);
  // The child writes its errno here when it cannot become the program; a successful exec
  // closes the pipe (close-on-exec) without a word.
  int failurePipe[2];
  if (::pipe2(failurePipe, O_CLOEXEC) != 0)
    return base::Failure::system(errno, "cannot start " + argv[0]);

  const pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    ::close(failurePipe[0]);
    ::close(failurePipe[1]);
    return base::Failure::system(error, "cannot start " + argv[0]);
  }
  if (pid == 0) {
    const auto fail = [&](int error) {
      [[maybe_unused]] const ssize_t written = ::write(failurePipe[1], &error, sizeof error);
      ::_exit(127);
    };
    const int null = ::open("/dev/null", O_RDONLY);
    const int out = ::open(output.c_str(), outputFlags, 0644);
    ::dup2(options.standardInput >= 0 ? options.standardInput : null, 0);
    ::dup2(options.standardOutput >= 0 ? options.standardOutput : out, 1);
    ::dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != failurePipe[1] &&
          std::find(options.keepDescriptors.begin(), options.keepDescriptors.end(), fd) ==
              options.keepDescriptors.end()) {
        ::close(fd);
      }
    }
    for (const int fd : options.keepDescriptors) ::fcntl(fd, F_SETFD, 0);
    if (options.gid && (::setgroups(0, nullptr) != 0 || ::setgid(*options.gid) != 0)) fail(errno);
    if (options.uid && ::setuid(*options.uid) != 0) fail(errno);
    ::execve(args[0], args.data(), envp.data());
    fail(errno);
  }
  ::close(failurePipe[1]);
  int error = 0;
  ssize_t got;
  do {
    got = ::read(failurePipe[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(failurePipe[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return base::Failure::system(error, "cannot start " + argv[0]);
  }
  return ChildProcess(pid, options.output);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), output_(std::move(other.output_)), status_(other.status_) {
  other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    stop();
    pid_ = other.pid_;
    output_ = std::move(other.output_);
    status_ = other.status_;
    other.pid_ = -1;
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  stop();
}

bool ChildProcess::signal(int signal) {
  return running() && ::kill(pid_, signal) == 0;
}

bool ChildProcess::running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
  return !status_;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds patience) {
  if (!running()) return status_;
  // A pidfd becomes readable when the process ends, so the wait needs no polling.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd >= 0) {
    pollfd ended{pidfd, POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&ended, 1, static_cast<int>(patience.count()));
    } while (ready < 0 && errno == EINTR);
    ::close(pidfd);
    if (ready == 0) return std::nullopt;
  }
  int status = 0;
  if (::waitpid(pid_, &status, 0) != pid_) return std::nullopt;
  status_ = status;
  return status_;
}

void ChildProcess::stop() {
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  if (!wait(std::chrono::seconds(5))) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = status;
  }
}

std::string ChildProcess::output() const {
  std::ifstream in(output_);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ChildProcess::outputTail(int lines) const {
  std::ifstream in(output_);
  std::deque<std::string> tail;
  for (std::string line; std::getline(in, line);) {
    tail.push_back(line);
    if (static_cast<int>(tail.size()) > lines) tail.pop_front();
  }
  std::string text;
  for (const auto& line : tail) text += "\n    | " + line;
  return text;
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    if (output().find(text) != std::string::npos) return true;
    if (!running() || std::chrono::steady_clock::now() >= deadline) {
      return output().find(text) != std::string::npos;
    }
    // The output is a file: it is looked at again shortly (a wait for a condition, with
    // `patience` only as the safety net).
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::string ChildProcess::describeStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "ended with wait status " + std::to_string(status);
}

std::optional<std::pair<uid_t, gid_t>> nobodyUser() {
  const passwd* entry = ::getpwnam("nobody");
  if (!entry) return std::nullopt;
  return std::make_pair(entry->pw_uid, entry->pw_gid);
}

std::optional<std::filesystem::path> findProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::filesystem::path candidate =
        std::filesystem::path(folders.substr(start, end - start)) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace zv::testing
