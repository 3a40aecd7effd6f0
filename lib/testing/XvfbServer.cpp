#include "testing/XvfbServer.h"

#include <fcntl.h>
#include <unistd.h>

#include "testing/LineReader.h"

namespace zv::testing {

std::unique_ptr<XvfbServer> XvfbServer::start(std::string* why) {
  const auto program = findProgram("Xvfb");
  if (!program) {
    *why = "Xvfb is not installed (Debian package xvfb)";
    return nullptr;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *why = "cannot create a pipe";
    return nullptr;
  }
  ChildOptions options;
  options.keepDescriptors = {fds[1]};
  auto process = ChildProcess::start({program->string(), "-displayfd", std::to_string(fds[1]),
                                      "-nolisten", "tcp", "-screen", "0", "640x480x24"},
                                     options);
  ::close(fds[1]);
  if (!process) {
    ::close(fds[0]);
    *why = process.failure().message;
    return nullptr;
  }
  // Xvfb writes the display number once it accepts connections, and closes the pipe if
  // it dies first. The bound is a safety net.
  const std::string number = readFirstLine(fds[0], std::chrono::seconds(20));
  if (number.empty()) {
    *why = "Xvfb did not come up";
    return nullptr;
  }
  return std::unique_ptr<XvfbServer>(new XvfbServer(std::move(*process), ":" + number));
}

}  // namespace zv::testing
