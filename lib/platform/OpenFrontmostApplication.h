// Chooses the provider of the focused application (FrontmostApplication.h) that the
// user's session offers, from its environment:
//
//   KINETRA_FOCUS_FIFO            a FIFO of focus changes written by a script or test
//                                 (linux/FifoFrontmostApplication.h), whatever the desktop
//   HYPRLAND_INSTANCE_SIGNATURE   Hyprland's event and request sockets
//   SWAYSOCK, I3SOCK              the sway / i3 IPC socket
//   WAYLAND_DISPLAY with XDG_CURRENT_DESKTOP naming GNOME
//                                 GNOME Shell, through our Shell extension on the session
//                                 bus (linux/GnomeShellFrontmostApplication.h)
//   WAYLAND_DISPLAY with XDG_CURRENT_DESKTOP naming KDE
//                                 KWin, through our script loaded over the session bus
//                                 (linux/KWinFrontmostApplication.h)
//   WAYLAND_DISPLAY (any other compositor): none — it does not tell other programs which
//                                 window has the focus, and its X11 compatibility server
//                                 only knows about X11 windows
//   DISPLAY                       X11 (EWMH window managers: GNOME and Plasma on X11 too,
//                                 Xfce, i3, Openbox, ...); the X server tells every
//                                 client, so no extension is needed there
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/FrontmostApplication.h"
#include "platform/RunLoop.h"

namespace zv::platform {

struct FrontmostApplicationChoice {
  // Nothing when the session offers no provider, or the one it names does not answer.
  std::unique_ptr<FrontmostApplication> provider;
  // Then this says why, in words for the user, ending in what it means for links.
  std::string unavailable;
};

// Whether the colon-separated list of $XDG_CURRENT_DESKTOP names `desktop` ("GNOME", "KDE").
bool currentDesktopIs(std::string_view desktop);

// Opens the provider on `loop` (call on the loop's thread).
FrontmostApplicationChoice openFrontmostApplication(RunLoop& loop,
                                                    ExecutableLookup lookup = executableOfProcess);

}  // namespace zv::platform
