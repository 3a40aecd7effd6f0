#include "platform/OpenFrontmostApplication.h"

#include <cstdlib>

#include "platform/linux/FifoFrontmostApplication.h"
#include "platform/linux/HyprlandFrontmostApplication.h"
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

}  // namespace

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
  if (!variable("WAYLAND_DISPLAY").empty()) {
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
