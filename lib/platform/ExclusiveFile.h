// Files that must be new: created exclusively, never through a symbolic link, with a
// name nobody can guess in advance. Used for files handed over to another program in a
// shared folder such as /tmp, where a predictable name lets another user plant a file or
// a link there first.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace zv::platform {

// Creates `path` with `bytes` and exactly `mode` (whatever the umask says). Fails, and
// leaves whatever is at `path` untouched, when anything exists there, a dangling
// symbolic link included. A failed write removes the new file. A failure is in
// base::kSystemDomain with the errno of the call that failed (EEXIST when the name was
// taken) and a message naming the path: "/run/x.pr1: cannot create: File exists".
base::Result<void> createFileExclusively(const std::filesystem::path& path, std::string_view bytes,
                                         mode_t mode);

// `byteCount` random bytes from the kernel (getrandom) as lower-case hexadecimal; none
// when the kernel has none to give.
std::optional<std::string> randomHexToken(std::size_t byteCount = 16);

}  // namespace zv::platform
