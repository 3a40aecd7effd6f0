// GNOME Shell's extensions, as the running shell reports and changes them over the
// session bus (the interface org.gnome.Shell.Extensions of org.gnome.Shell at
// /org/gnome/Shell): the state of one extension, and enabling or disabling it for the
// user, which the shell records in the user's settings and applies at once.
//
// Threads: the thread of the connection's loop; the calls wait (briefly) for the shell.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/linux/BusConnection.h"
#include "platform/linux/BusValues.h"

namespace zv::platform {

// Our focus extension (the package installs it under
// /usr/share/gnome-shell/extensions/<uuid>).
inline constexpr const char* kFocusExtensionUuid = "focus@kinetra.zenvor.com";

enum class ExtensionState {
  NotInstalled,  // the shell does not know it
  Enabled,
  Disabled,   // installed, not enabled (or being disabled)
  Failed,     // the shell could not run it; `error` says why
  OutOfDate,  // written for other versions of the shell
  Other,      // a state of a later shell (downloading, …)
};

struct ExtensionInfo {
  ExtensionState state = ExtensionState::NotInstalled;
  std::string error;  // the shell's message when it failed
  std::string path;   // where the shell found it
};

// The state of an extension from the values of GetExtensionInfo's answer (a dictionary
// of variants; empty for an extension the shell does not know). Nothing when the
// answer is no such dictionary.
std::optional<ExtensionInfo> extensionInfoFromValues(const std::vector<BusValue>& values);

// Asks the running shell about `uuid`. Fails when GNOME Shell does not answer (it does
// not run in this session).
base::Result<ExtensionInfo> extensionInfo(BusConnection& bus, const std::string& uuid);
// Enables or disables `uuid` for the user. Fails when the shell does not answer or
// refuses (an extension it does not know, or extensions switched off for the user).
base::Result<void> enableExtension(BusConnection& bus, const std::string& uuid);
base::Result<void> disableExtension(BusConnection& bus, const std::string& uuid);

// The mark of the user's choice about the focus extension, in the user's data folder:
// written when the agent's first start enables it, and by `kinetra desktop enable` and
// `disable`. The agent enables the extension only while there is no mark, so that a user
// who disabled it keeps it disabled.
std::filesystem::path focusExtensionMark();
bool focusExtensionMarked();
// `choice` ("enabled", "disabled") is what the mark says, for a reader of the file.
base::Result<void> markFocusExtension(const std::string& choice);

// "enabled", "disabled", … for messages.
const char* describe(ExtensionState state);

}  // namespace zv::platform
