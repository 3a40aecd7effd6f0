// Opening the desktop's own mouse settings ("systemMouseSettings"): the desktop named by
// XDG_CURRENT_DESKTOP decides which program shows them.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::editor {

struct MouseSettingsLaunch {
  // The program and its arguments; empty when the desktop is unknown or its program is
  // missing.
  std::vector<std::string> command;
  // When there is no command: what to tell the user instead.
  std::string message;
};

// `desktop` as XDG_CURRENT_DESKTOP gives it ("ubuntu:GNOME", "KDE"); `installed` tells
// whether a program is in PATH.
MouseSettingsLaunch mouseSettingsLaunch(std::string_view desktop,
                                        const std::function<bool(const std::string&)>& installed);

}  // namespace zv::editor
