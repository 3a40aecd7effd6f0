#include "MouseSettings.h"

namespace zv::editor {

namespace {

bool desktopIs(std::string_view desktops, std::string_view name) {
  while (!desktops.empty()) {
    const auto colon = desktops.find(':');
    if (desktops.substr(0, colon) == name) return true;
    desktops.remove_prefix(colon == std::string_view::npos ? desktops.size() : colon + 1);
  }
  return false;
}

}  // namespace

MouseSettingsLaunch mouseSettingsLaunch(std::string_view desktop,
                                        const std::function<bool(const std::string&)>& installed) {
  struct Candidate {
    std::string_view desktop;
    std::vector<std::string> command;
  };
  const Candidate candidates[] = {
      {"GNOME", {"gnome-control-center", "mouse"}}, {"Unity", {"gnome-control-center", "mouse"}},
      {"KDE", {"systemsettings", "kcm_mouse"}},     {"KDE", {"kcmshell5", "kcm_mouse"}},
      {"XFCE", {"xfce4-mouse-settings"}},           {"MATE", {"mate-mouse-properties"}},
      {"Cinnamon", {"cinnamon-settings", "mouse"}}, {"LXQt", {"lxqt-config-input"}},
  };
  bool known = false;
  for (const auto& candidate : candidates) {
    if (!desktopIs(desktop, candidate.desktop)) continue;
    known = true;
    if (installed(candidate.command.front())) return {candidate.command, {}};
  }
  if (known) {
    return {{},
            "The mouse settings of your desktop (" + std::string(desktop) +
                ") are not installed. Install its settings program, or set the pointer speed "
                "and buttons in your desktop's own settings."};
  }
  return {{},
          "This editor cannot open the mouse settings of your desktop" +
              (desktop.empty() ? std::string() : " (" + std::string(desktop) + ")") +
              ". Open them from your desktop's settings: GNOME (gnome-control-center mouse) and "
              "KDE Plasma (systemsettings kcm_mouse) are opened directly."};
}

}  // namespace zv::editor
