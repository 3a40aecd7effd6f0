// The focused application on an X11 desktop, from the window manager's EWMH hints: the
// root window's _NET_ACTIVE_WINDOW names the focused window, whose _NET_WM_PID names
// its process. The provider listens for PropertyNotify on the root window, so a focus
// change arrives as an event on the X connection, which the run loop watches.
//
// Windows of programs on other hosts carry a process id of that host; their
// executable is not looked up beyond what /proc says for that number. A window without
// _NET_WM_PID is reported with its class only.
#pragma once

#include <memory>
#include <string>

#include "base/Result.h"
#include "platform/FrontmostApplication.h"
#include "platform/RunLoop.h"

namespace zv::platform {

// The X display cannot be opened or does not serve the window-manager hints.
inline constexpr const char* kX11FocusDomain = "X11Focus";
enum X11FocusCode { kX11Unusable = 1 };

class X11FrontmostApplication : public FrontmostApplication {
 public:
  // Connects to `display` ($DISPLAY when empty) and starts listening on `loop`.
  // A failure (kX11FocusDomain) saying why when the display cannot be opened or used.
  static base::Result<std::unique_ptr<X11FrontmostApplication>> open(
      RunLoop& loop, const std::string& display, ExecutableLookup lookup = executableOfProcess);
  ~X11FrontmostApplication() override;

  std::string_view providerName() const override { return "X11"; }

  // Whether the window manager announces _NET_ACTIVE_WINDOW in _NET_SUPPORTED (without
  // a window manager that does, no focus change is ever reported).
  bool windowManagerReportsFocus() const;

 private:
  struct Connection;
  X11FrontmostApplication(RunLoop& loop, std::unique_ptr<Connection> connection,
                          ExecutableLookup lookup);
  void onReadable();
  // Reads _NET_ACTIVE_WINDOW and reports its owner.
  void refresh();

  RunLoop& loop_;
  std::unique_ptr<Connection> connection_;
  RunLoop::WatchId watch_ = 0;
  ExecutableLookup lookup_;
};

}  // namespace zv::platform
