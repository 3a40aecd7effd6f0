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

namespace zv::testing {

std::optional<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                const ChildOptions& options) {
  if (argv.empty()) return std::nullopt;
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

  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDONLY);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::dup2(options.standardInput >= 0 ? options.standardInput : null, 0);
    ::dup2(options.standardOutput >= 0 ? options.standardOutput : out, 1);
    ::dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd) {
      if (std::find(options.keepDescriptors.begin(), options.keepDescriptors.end(), fd) ==
          options.keepDescriptors.end()) {
        ::close(fd);
      }
    }
    for (const int fd : options.keepDescriptors) ::fcntl(fd, F_SETFD, 0);
    if (options.gid) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(*options.gid) != 0) ::_exit(126);
    }
    if (options.uid && ::setuid(*options.uid) != 0) ::_exit(126);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) {
  other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    stop();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  stop();
}

bool ChildProcess::signal(int signal) const {
  return pid_ > 0 && ::kill(pid_, signal) == 0;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds patience) {
  if (pid_ <= 0) return std::nullopt;
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
  pid_ = -1;
  return status;
}

void ChildProcess::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (!wait(std::chrono::seconds(5))) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  pid_ = -1;
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
