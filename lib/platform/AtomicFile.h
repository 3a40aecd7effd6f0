// Whole-file writes of a user's files that never leave a truncated or half-written file
// and never replace what is not a regular file.
//
// The bytes go to a temporary file in the target's folder, are flushed to disk, and the
// temporary file is renamed over the target. On any failure the target is untouched and
// the temporary file is removed.
//
// What stands at the path decides the target:
//   nothing             a new file, created with `mode` less the umask;
//   a regular file      replaced, keeping its permissions, owner and group;
//   a symbolic link     the regular file it finally names is replaced as above (through
//                       any chain of links), so the link keeps working and its target
//                       does not go stale; a link to nothing is refused;
//   anything else       (a folder, a FIFO, a device, a socket) refused.
//
// Failures read "cannot write PATH: REASON" (or name the step that failed) and always
// name the path given.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace zv::platform {

// What stands at the path is not a regular file, nor a link to one.
inline constexpr const char* kAtomicFileDomain = "AtomicFile";
enum AtomicFileCode { kNotARegularTarget = 1 };

// Success once the file holds `bytes`; a failed step is a system failure (errno). An
// existing file whose owner or group this process cannot give the replacement (it belongs
// to another user) is refused rather than taken over.
base::Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                       mode_t mode = 0644);

}  // namespace zv::platform
