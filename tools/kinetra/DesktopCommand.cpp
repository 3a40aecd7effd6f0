// kinetra desktop [enable | disable]
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "Command.h"
#include "Report.h"
#include "platform/OpenFrontmostApplication.h"
#include "platform/RunLoop.h"
#include "platform/linux/GnomeShellExtensions.h"
#include "platform/linux/StatusNotifierHostWatch.h"

namespace kinetra {
namespace {

namespace platform = zv::platform;
constexpr const char* kName = "desktop";
// The desktop answers in milliseconds; this bounds the wait for one that does not.
constexpr std::chrono::seconds kPatience{3};

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : "";
}

// What the focus provider of this session hears.
void showFocus(platform::RunLoop& loop) {
  auto choice = platform::openFrontmostApplication(loop);
  if (!choice.provider) {
    std::cout << "focused application: not known here: " << choice.unavailable << "\n";
    return;
  }
  auto& provider = *choice.provider;
  loop.runUntil([&] { return provider.current() || !provider.waitingFor().empty(); }, kPatience);
  std::cout << "focused application: through " << provider.providerName() << ", ";
  if (provider.current()) {
    std::cout << "heard (profiles linked to applications switch)\n";
  } else if (!provider.waitingFor().empty()) {
    std::cout << "not heard: " << provider.waitingFor() << "\n";
  } else {
    std::cout << "no answer yet\n";
  }
}

void showExtension() {
  auto bus = platform::BusConnection::openSession(platform::RunLoop::main());
  if (!bus) return;
  const auto info = platform::extensionInfo(**bus, platform::kFocusExtensionUuid);
  if (!info) return;  // not a GNOME Shell session
  std::cout << "GNOME Shell focus extension: " << platform::describe(info->state);
  if (!info->error.empty()) std::cout << " (" << info->error << ")";
  std::cout << "\n";
}

void showTray(platform::RunLoop& loop) {
  auto bus = platform::BusConnection::openSession(loop);
  if (!bus) {
    std::cout << "tray: not known (no session bus)\n";
    return;
  }
  auto watch = platform::StatusNotifierHostWatch::open(std::move(*bus), {});
  if (!watch) return;
  loop.runUntil([&] { return (*watch)->hostPresent().has_value(); }, kPatience);
  if ((*watch)->hostPresent() == true) {
    std::cout << "tray: status icons are shown (perch's icon and profile menu)\n";
  } else {
    std::cout << "tray: no status icons here; on GNOME, install gnome-shell-extension-appindicator "
                 "and switch it on in the Extensions application ('kinetra use NAME' and the "
                 "editor switch profiles meanwhile)\n";
  }
}

int status() {
  auto& loop = platform::RunLoop::main();
  const std::string desktop = variable("XDG_CURRENT_DESKTOP");
  const std::string session = variable("WAYLAND_DISPLAY").empty()
                                  ? (variable("DISPLAY").empty() ? "no display" : "X11")
                                  : "Wayland";
  std::cout << "desktop: " << (desktop.empty() ? "unknown" : desktop) << " (" << session << ")\n";
  showFocus(loop);
  if (platform::currentDesktopIs("GNOME")) showExtension();
  showTray(loop);
  return 0;
}

int change(bool enable) {
  const char* command = enable ? "desktop enable" : "desktop disable";
  auto bus = platform::BusConnection::openSession(platform::RunLoop::main());
  if (!bus) return fail(command, bus.failure().message);
  const std::string uuid = platform::kFocusExtensionUuid;
  const auto changed =
      enable ? platform::enableExtension(**bus, uuid) : platform::disableExtension(**bus, uuid);
  if (!changed) {
    return fail(command, changed.failure().message + " (run this in your GNOME session)");
  }
  // The agent's first start leaves the user's choice alone from now on.
  if (auto marked = platform::markFocusExtension(enable ? "enabled" : "disabled"); !marked) {
    warn(command, marked.failure().message);
  }
  std::cout << (enable ? "enabled" : "disabled") << " the GNOME Shell focus extension " << uuid
            << " for this user"
            << (enable ? "; profiles linked to applications now follow the focus\n"
                       : "; profiles linked to applications stay inactive on GNOME Shell\n");
  return 0;
}

void define(CLI::App& command) {
  command.footer(
      "Without a subcommand: which desktop this is, how the focused application is known\n"
      "(and if it is not, why), the GNOME Shell focus extension's state, and whether the\n"
      "desktop shows perch's tray icon.\n\n"
      "On GNOME Shell the focused application is known only through the package's Shell\n"
      "extension; perch enables it for you at its first start. On KDE Plasma perch loads a\n"
      "KWin script for as long as it runs; nothing needs enabling.");
  setAction(command, [] { return status(); });
  auto* enable =
      command.add_subcommand("enable", "enable the GNOME Shell focus extension for this user");
  setAction(*enable, [] { return change(true); });
  auto* disable =
      command.add_subcommand("disable", "disable the GNOME Shell focus extension for this user");
  setAction(*disable, [] { return change(false); });
}

const CommandRegistration registration(kName, "how this desktop tells the focused application",
                                       define);

}  // namespace
}  // namespace kinetra
