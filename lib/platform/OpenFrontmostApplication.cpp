#include "platform/OpenFrontmostApplication.h"

#include <cstdlib>

#include "platform/Paths.h"
#include "platform/linux/FifoFrontmostApplication.h"
#include "platform/linux/GnomeShellFrontmostApplication.h"
#include "platform/linux/HyprlandFrontmostApplication.h"
#include "platform/linux/KWinFrontmostApplication.h"
#include "platform/linux/SwayFrontmostApplication.h"
#include "platform/linux/X11FrontmostApplication.h"

namespace zv::platform {

namespace {

constexpr const char* kInactive = "; profiles linked to applications stay inactive";

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

FrontmostApplicationChoice unavailable(std::string why) {
  return {nullptr, std::move(why) + kInactive};
}

template <typename Provider>
FrontmostApplicationChoice chosen(base::Result<std::unique_ptr<Provider>> provider,
                                  const std::string& desktop) {
  if (!provider) return unavailable(desktop + ": " + provider.failure().message);
  return {std::move(*provider), {}};
}

}  // namespace

bool currentDesktopIs(std::string_view desktop) {
  const std::string list = variable("XDG_CURRENT_DESKTOP");
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (std::string_view(list).substr(start, end - start) == desktop) return true;
    start = end + 1;
  }
  return false;
}

FrontmostApplicationChoice openFrontmostApplication(RunLoop& loop, ExecutableLookup lookup) {
  if (const std::string fifo = variable("KINETRA_FOCUS_FIFO"); !fifo.empty()) {
    auto provider = FifoFrontmostApplication::open(loop, fifo);
    if (!provider) {
      return unavailable("KINETRA_FOCUS_FIFO names no usable FIFO: " + provider.failure().message);
    }
    return {std::move(*provider), {}};
  }
  if (!variable("HYPRLAND_INSTANCE_SIGNATURE").empty()) {
    const auto folder = HyprlandFrontmostApplication::socketFolder();
    if (!folder) return unavailable("Hyprland's sockets were not found");
    auto provider = HyprlandFrontmostApplication::open(loop, *folder, std::move(lookup));
    if (!provider) return unavailable("Hyprland does not answer: " + provider.failure().message);
    return {std::move(*provider), {}};
  }
  for (const char* name : {"SWAYSOCK", "I3SOCK"}) {
    const std::string socket = variable(name);
    if (socket.empty()) continue;
    auto provider = SwayFrontmostApplication::open(loop, socket, std::move(lookup));
    if (!provider) {
      return unavailable(std::string(name) +
                         " names a socket that does not answer: " + provider.failure().message);
    }
    return {std::move(*provider), {}};
  }
  const bool wayland = !variable("WAYLAND_DISPLAY").empty();
  if (wayland && (currentDesktopIs("GNOME") || currentDesktopIs("KDE"))) {
    auto bus = BusConnection::openSession(loop);
    if (!bus) return unavailable(bus.failure().message);
    if (currentDesktopIs("GNOME")) {
      return chosen(GnomeShellFrontmostApplication::open(std::move(*bus), std::move(lookup)),
                    "GNOME Shell");
    }
    return chosen(
        KWinFrontmostApplication::open(std::move(*bus), runtimeFolder(), std::move(lookup)),
        "KWin");
  }
  if (wayland) {
    std::string desktop = variable("XDG_CURRENT_DESKTOP");
    if (desktop.empty()) desktop = "this Wayland compositor";
    return unavailable("the desktop (" + desktop +
                       ") does not tell other programs which application has the focus");
  }
  if (!variable("DISPLAY").empty()) {
    auto provider = X11FrontmostApplication::open(loop, {}, std::move(lookup));
    if (!provider) return unavailable(provider.failure().message);
    return {std::move(*provider), {}};
  }
  return unavailable("no desktop session was found (neither WAYLAND_DISPLAY nor DISPLAY is set)");
}

}  // namespace zv::platform
