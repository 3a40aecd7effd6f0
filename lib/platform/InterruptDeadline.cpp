#include "platform/InterruptDeadline.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace zv::platform {

namespace {

sigset_t watchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// Whether a watched signal is pending, waiting up to `timeoutMs` (-1: for ever).
bool pending(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (entry.revents & POLLIN);
}

[[noreturn]] void endProcess(int fd) {
  signalfd_siginfo info{};
  int number = SIGTERM;
  if (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    number = static_cast<int>(info.ssi_signo);
  }
  char line[128];
  const int length =
      std::snprintf(line, sizeof line, "interrupted (%s): the program did not end in time\n",
                    ::strsignal(number));
  if (length > 0) [[maybe_unused]]
    ssize_t written = ::write(STDERR_FILENO, line, length);
  ::_exit(128 + number);
}

void watch(int fd, std::chrono::milliseconds grace) {
  // This thread never takes the signals itself: they stay for the main loop, or for the
  // default action where the program does not block them.
  const sigset_t set = watchedSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  for (;;) {
    if (!pending(fd, -1)) continue;
    std::this_thread::sleep_for(grace);
    // Still pending: nobody is taking it.
    if (pending(fd, 0)) endProcess(fd);
  }
}

}  // namespace

void startInterruptDeadline(std::chrono::milliseconds grace) {
  static std::once_flag once;
  std::call_once(once, [grace] {
    const sigset_t set = watchedSignals();
    const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) return;
    std::thread(watch, fd, grace).detach();
  });
}

}  // namespace zv::platform
