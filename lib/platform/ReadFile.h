// Reading a user's file whole, safely: only regular files are opened (a FIFO would block
// the reader for ever, a device such as /dev/zero never ends), and nothing larger than
// the caller's limit is read into memory.
//
// A path is checked before it is opened (stat, following symbolic links), opened without
// blocking, and checked again on the open descriptor, so a file swapped for a FIFO in
// between is refused too. Failures read "cannot read PATH: REASON".
//
//   base::Result<std::string> bytes = platform::readFile(path, kProfileFileLimit);
//   if (!bytes) return bytes.failure();
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace zv::platform {

// For files without a limit of their own: far beyond any file the suite reads, small
// enough that a wrong path cannot exhaust memory.
inline constexpr std::size_t kDefaultReadLimit = std::size_t{64} << 20;

// The domain of a read that found something other than a file it may read whole; a
// failed system call is in base::kSystemDomain with its errno.
inline constexpr const char* kReadFileDomain = "ReadFile";
enum ReadFileCode {
  kNotARegularFile = 1,  // a folder, a FIFO, a device, a socket
  kFileTooLarge = 2,     // more than the caller's limit
};

// Whether a symbolic link at the path itself is followed, or refused as open(O_NOFOLLOW)
// refuses it (a system failure ELOOP): files in shared folders such as /tmp are read
// only when they are what they claim to be.
enum class Links { follow, refuse };

// The whole regular file at `path` (or the regular file a symbolic link there names),
// at most `limit` bytes. Every file the library reads whole goes through here.
base::Result<std::string> readFile(const std::filesystem::path& path,
                                   std::size_t limit = kDefaultReadLimit,
                                   Links links = Links::follow);

// Everything `fd` gives until its end (standard input, a pipe), at most `limit` bytes.
// `name` names the input in the failure ("-" for standard input). The descriptor stays
// open.
base::Result<std::string> readAll(int fd, std::string_view name, std::size_t limit);

// "16 MiB", "512 KiB", "300 bytes": a limit as messages state it.
std::string describeSize(std::size_t bytes);

}  // namespace zv::platform
