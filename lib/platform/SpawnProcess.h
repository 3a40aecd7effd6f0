// Starting other programs: the package tool for a downloaded update, the privileged
// uninstaller, the editor. Programs are run directly (no shell between), with the
// default signal dispositions and an empty signal mask whatever the caller has blocked
// (the run loop blocks the signals it watches, and children must not inherit that).
//
// Thread affinity: spawn() may be called from any thread; the exit handler runs on the
// given run loop's thread.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "base/Result.h"

namespace zv::platform {

class RunLoop;

struct SpawnOptions {
  // Start the child in a session of its own, so that it outlives a terminal the caller
  // was started from (Ctrl-C there does not reach it).
  bool newSession = false;
  // Standard input from /dev/null rather than the caller's.
  bool nullInput = false;
};

// How a child ended, decoded from its wait status.
struct ChildExit {
  bool exited = false;  // true: ended by exit() with `status`; false: killed by `signal`
  int status = 0;
  int signal = 0;
};

using ChildExitHandler = std::function<void(const ChildExit&)>;

// Starts `argv[0]` (looked up in PATH when it holds no "/") with `argv`. Answers the
// child's pid, or a failure saying why ("pkexec: No such file or directory"). The child is
// always reaped; when `onExit` is given it is called on `loop`'s thread once the child
// has ended.
base::Result<pid_t> spawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options,
                                 RunLoop& loop, ChildExitHandler onExit = {});

// Whether `name` is an executable file in one of the folders of PATH (or, holding a
// "/", at that path).
bool isExecutableInPath(const std::string& name);

}  // namespace zv::platform
