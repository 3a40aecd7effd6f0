// Whole-file writes that never leave a truncated or half-written file: the bytes go
// to a temporary file in the same folder, are flushed to disk, and the temporary
// file is renamed over the target. On any failure the target is untouched and the
// temporary file is removed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace zv::platform {

// Answers whether the file now holds `bytes`; on failure `error` (when given) says
// why, naming the path. A new file gets `mode` (less the umask); an existing file
// keeps its own permissions.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error = nullptr, mode_t mode = 0644);

// The whole file, or false with `error` set.
bool readFile(const std::filesystem::path& path, std::string& bytes, std::string* error = nullptr);

}  // namespace zv::platform
