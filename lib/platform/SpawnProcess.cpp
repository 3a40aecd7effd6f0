#include "platform/SpawnProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>

#include "platform/RunLoop.h"

extern char** environ;

namespace zv::platform {

namespace {

ChildExit decode(int status) {
  ChildExit exit;
  if (WIFEXITED(status)) {
    exit.exited = true;
    exit.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exit.signal = WTERMSIG(status);
  }
  return exit;
}

int waitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Reaps the child when it ends and tells `onExit` on the loop's thread: through a pidfd
// the loop watches, or, on a kernel without pidfds, through a thread that waits.
void watchExit(pid_t pid, RunLoop& loop, ChildExitHandler onExit) {
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    ::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
    auto watch = std::make_shared<RunLoop::WatchId>(0);
    *watch = loop.watchFd(pidfd, EPOLLIN,
                          [pid, pidfd, watch, &loop, onExit = std::move(onExit)](std::uint32_t) {
                            loop.unwatchFd(*watch);
                            ::close(pidfd);
                            const ChildExit exit = decode(waitFor(pid));
                            if (onExit) onExit(exit);
                          });
    if (*watch != 0) return;
    ::close(pidfd);
  }
#endif
  std::thread([pid, &loop, onExit = std::move(onExit)]() mutable {
    const ChildExit exit = decode(waitFor(pid));
    if (onExit) loop.post([exit, onExit = std::move(onExit)] { onExit(exit); });
  }).detach();
}

}  // namespace

base::Result<pid_t> spawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options,
                                 RunLoop& loop, ChildExitHandler onExit) {
  if (argv.empty() || argv[0].empty()) {
    return base::Failure{base::kSystemDomain, EINVAL, "no program to start"};
  }
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.newSession) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attributes, flags);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.nullInput) {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }

  pid_t pid = 0;
  const int result = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) return base::Failure::system(result, argv[0]);
  watchExit(pid, loop, std::move(onExit));
  return pid;
}

bool isExecutableInPath(const std::string& name) {
  if (name.empty()) return false;
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (;;) {
    const auto colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    const std::string candidate =
        (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    folders.remove_prefix(colon + 1);
  }
}

}  // namespace zv::platform
