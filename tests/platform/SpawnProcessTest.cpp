// Starting programs: exit statuses reach the run loop, children never inherit the
// caller's blocked signals, and a missing program is an error, not a silent child.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <optional>

#include "platform/RunLoop.h"
#include "platform/SpawnProcess.h"

namespace zv::platform {
namespace {

using namespace std::chrono_literals;

std::optional<ChildExit> runToEnd(const std::vector<std::string>& argv) {
  std::optional<ChildExit> result;
  const auto pid =
      spawnProcess(argv, {}, RunLoop::main(), [&](const ChildExit& exit) { result = exit; });
  EXPECT_TRUE(pid && *pid > 0) << (pid ? "" : pid.failure().message);
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return result.has_value(); }, 10'000ms));
  return result;
}

TEST(SpawnProcess, ReportsHowTheChildEnded) {
  const auto exited = runToEnd({"/bin/sh", "-c", "exit 3"});
  ASSERT_TRUE(exited);
  EXPECT_TRUE(exited->exited);
  EXPECT_EQ(exited->status, 3);

  // The caller blocks SIGTERM (as a run loop watching it does); the child must not.
  sigset_t term, previous;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &previous), 0);
  const auto killed = runToEnd({"sh", "-c", "kill -TERM $$; exit 0"});
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(killed);
  EXPECT_FALSE(killed->exited);
  EXPECT_EQ(killed->signal, SIGTERM);
}

TEST(SpawnProcess, AMissingProgramIsAnError) {
  const auto missing = spawnProcess({"kinetra-no-such-program"}, {}, RunLoop::main());
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.failure().is(base::kSystemDomain, ENOENT));
  EXPECT_EQ(missing.failure().message, "kinetra-no-such-program: No such file or directory");
  EXPECT_FALSE(spawnProcess({}, {}, RunLoop::main()));
  EXPECT_FALSE(isExecutableInPath("kinetra-no-such-program"));
  EXPECT_TRUE(isExecutableInPath("sh"));
  EXPECT_TRUE(isExecutableInPath("/bin/sh"));
}

}  // namespace
}  // namespace zv::platform
