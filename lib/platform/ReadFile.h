// Reading a user's file whole, safely: only regular files are opened (a FIFO would block
// the reader for ever, a device such as /dev/zero never ends), and nothing larger than
// the caller's limit is read into memory.
//
// A path is checked before it is opened (stat, following symbolic links), opened without
// blocking, and checked again on the open descriptor, so a file swapped for a FIFO in
// between is refused too. Failures read "cannot read PATH: REASON".
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace zv::platform {

// For files without a limit of their own: far beyond any file the suite reads, small
// enough that a wrong path cannot exhaust memory.
inline constexpr std::size_t kDefaultReadLimit = std::size_t{64} << 20;

// The whole regular file at `path` (or the regular file a symbolic link there names).
// False, with `error` set and `bytes` untouched, when it is missing, not a regular file,
// larger than `limit` bytes, or cannot be read.
bool readFile(const std::filesystem::path& path, std::string& bytes, std::string* error = nullptr,
              std::size_t limit = kDefaultReadLimit);

// Everything `fd` gives until its end (standard input, a pipe), at most `limit` bytes.
// `name` names the input in `error` ("-" for standard input). The descriptor stays open.
bool readAll(int fd, std::string_view name, std::string& bytes, std::size_t limit,
             std::string* error = nullptr);

// "16 MiB", "512 KiB", "300 bytes": a limit as messages state it.
std::string describeSize(std::size_t bytes);

}  // namespace zv::platform
