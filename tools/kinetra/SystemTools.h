// The system programs `kinetra adopt` and `kinetra release` use: udevadm to reload the
// rules, systemctl to start and stop a mouse's driver, pkexec to ask for root. One small
// interface, so that tests run the commands against a fake that records what would run.
//
// KINETRA_FAKE_SYSTEM_TOOLS=FILE selects the fake: each command is appended to FILE as
// one line (its words separated by blanks) and answers exit status 0, or 126 when its
// program is named in KINETRA_FAKE_SYSTEM_TOOLS_REFUSE (blank-separated, e.g. "pkexec");
// the process counts as root unless KINETRA_FAKE_SYSTEM_TOOLS_ROOT is 0.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/Result.h"

namespace kinetra {

class SystemTools {
 public:
  virtual ~SystemTools() = default;
  // Whether this process may write the udev rules and start services.
  virtual bool isRoot() const = 0;
  // Runs the command (its program looked up in PATH) and waits for it: its exit status
  // (128 + signal when a signal ended it), or a failure when it cannot be started.
  virtual zv::base::Result<int> run(const std::vector<std::string>& command) = 0;
};

// The real tools, or the fake the environment asks for (see above).
std::unique_ptr<SystemTools> systemTools();

}  // namespace kinetra
