// A client of an X server that sets the window-manager hints a real window manager
// would: windows owned by given processes, and the root window's active window. Tests
// of the X11 provider of the focused application drive it on a private Xvfb.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace zv::testing {

class X11WindowManagerStandIn {
 public:
  explicit X11WindowManagerStandIn(const std::string& display);
  ~X11WindowManagerStandIn();
  X11WindowManagerStandIn(const X11WindowManagerStandIn&) = delete;
  X11WindowManagerStandIn& operator=(const X11WindowManagerStandIn&) = delete;

  // A new window owned by `pid` (none: without _NET_WM_PID) whose WM_CLASS is `name`.
  std::uint32_t window(std::optional<pid_t> pid, const std::string& name);
  // Sets the root window's _NET_ACTIVE_WINDOW (0: none) and flushes.
  void activate(std::uint32_t window);

 private:
  struct Connection;
  std::unique_ptr<Connection> connection_;
};

}  // namespace zv::testing
