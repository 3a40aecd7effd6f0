// A private X server (Xvfb) for tests of X11 code: it picks a free display itself and
// says which, so tests running side by side never collide. Stopped when the object goes.
#pragma once

#include <memory>
#include <string>

#include "testing/ChildProcess.h"

namespace zv::testing {

class XvfbServer {
 public:
  // Nothing, with `why` set, when Xvfb is not installed or does not come up.
  static std::unique_ptr<XvfbServer> start(std::string* why);

  // ":N", for xcb_connect or $DISPLAY.
  const std::string& display() const { return display_; }
  pid_t pid() const { return process_.pid(); }

 private:
  XvfbServer(ChildProcess process, std::string display)
      : process_(std::move(process)), display_(std::move(display)) {}
  ChildProcess process_;
  std::string display_;
};

}  // namespace zv::testing
