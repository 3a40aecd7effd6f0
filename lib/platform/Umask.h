// The process's file-creation mask, read without changing it.
//
// umask(2) can only be read by setting it, which for a moment gives every thread that
// creates a file meanwhile the wrong permissions. The kernel shows the mask in the
// "Umask:" line of /proc/self/status (Linux 4.7 and later); only where that is missing
// is the mask read the old way, once, while the library is loaded (before the program's
// own threads start).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string_view>

namespace zv::platform {

// The mask in force now. Safe to call from any thread.
mode_t currentUmask();

// The mask of a /proc/<pid>/status text ("Umask:\t0022"), or none when it has no such
// line or the line holds no octal mask.
std::optional<mode_t> umaskFromStatus(std::string_view status);

}  // namespace zv::platform
