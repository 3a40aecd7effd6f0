// A program whose loop is stuck still ends on SIGTERM: the pending signal nobody takes
// ends it after the grace, with status 128 + 15.
#include "platform/InterruptDeadline.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zv::platform {
namespace {

TEST(InterruptDeadline, AStuckProgramEndsOnASignalNobodyTakes) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The program blocks the signal for its loop, then never runs the loop.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    startInterruptDeadline(std::chrono::milliseconds(100));
    [[maybe_unused]] ssize_t n = ::write(ready[1], "r", 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
  ASSERT_GE(pidfd, 0);
  ASSERT_EQ(::kill(child, SIGTERM), 0);
  pollfd entry{pidfd, POLLIN, 0};
  const bool ended = ::poll(&entry, 1, 20'000) == 1;  // only a broken deadline waits this long
  if (!ended) ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(pidfd);
  ASSERT_TRUE(ended);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

}  // namespace
}  // namespace zv::platform
