// The user at the console: the owner of the active session of seat0, as systemd-logind
// knows it. Profiles belong to that user even when the program runs as another one
// (a service started as root).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>

namespace zv::platform {

// Answers the uid of the console user, or nothing when there is no active session on
// seat0 (a server, a container, no logind). The Linux one asks sd-login; tests pass
// their own.
using ConsoleUserLookup = std::function<std::optional<uid_t>()>;
std::optional<uid_t> consoleUserFromLogind();

// The home folder of the console user: $KINETRA_HOME when set (tests and the demo), else
// the passwd home of the uid `lookup` answers, else the process's own home
// (homeFolder(), Paths.h).
std::filesystem::path consoleUserHomeFolder(
    const ConsoleUserLookup& lookup = consoleUserFromLogind);

}  // namespace zv::platform
