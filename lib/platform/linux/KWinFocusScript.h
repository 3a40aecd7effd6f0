// The KWin script that reports the active window to one provider (KWinFrontmostApplication).
// KWin runs it inside the compositor once the provider has loaded it through KWin's
// scripting interface; it calls the provider's Activated(pid, name) method over the
// session bus after every change of the active window, and once at start.
//
// It holds nothing that outlives it: it is loaded for one provider and unloaded when
// that provider ends. Should the provider end without unloading it (a crash), the script
// notices at the next focus change, by asking the bus whether the provider's connection
// still exists, and unloads itself.
#pragma once

#include <string>

namespace zv::platform {

// The script's text for the provider whose connection is `providerName` (":1.42"),
// loaded under `pluginName`. Both must be bus-name characters only (they are quoted
// into the script as they are); the provider makes them.
std::string kwinFocusScript(const std::string& providerName, const std::string& pluginName);

}  // namespace zv::platform
