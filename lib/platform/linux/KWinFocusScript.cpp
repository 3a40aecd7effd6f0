#include "platform/linux/KWinFocusScript.h"

namespace zv::platform {

namespace {

// PROVIDER and PLUGIN are replaced. Changes of one pass of KWin's event loop (a desktop
// switch deactivates the old window before it activates the new one) are sent as one:
// the last.
constexpr const char* kScript = R"js(
const provider = "PROVIDER";
const plugin = "PLUGIN";
let latest = null;
let timer = null;

function send() {
    const window = latest;
    callDBus(provider, "/com/zenvor/Kinetra/Focus", "com.zenvor.Kinetra.Focus1", "Activated",
             window ? window.pid : 0, window ? String(window.resourceClass) : "");
    callDBus("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "NameHasOwner", provider, function (present) {
        if (!present) {
            callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                     plugin);
        }
    });
}

function activated(window) {
    latest = window;
    if (typeof QTimer === "undefined") {
        send();
        return;
    }
    if (timer === null) {
        timer = new QTimer();
        timer.singleShot = true;
        timer.interval = 0;
        timer.timeout.connect(send);
    }
    timer.start();
}

workspace.clientActivated.connect(activated);
activated(workspace.activeClient);
)js";

std::string replaced(std::string text, const std::string& key, const std::string& value) {
  const std::size_t at = text.find(key);
  if (at != std::string::npos) text.replace(at, key.size(), value);
  return text;
}

}  // namespace

std::string kwinFocusScript(const std::string& providerName, const std::string& pluginName) {
  return replaced(replaced(kScript, "PROVIDER", providerName), "PLUGIN", pluginName);
}

}  // namespace zv::platform
