#include "platform/ExclusiveFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zv::platform {
namespace {

base::Failure failure(const std::filesystem::path& path, std::string_view what, int number) {
  return base::Failure::system(number, path.string() + ": " + std::string(what));
}

}  // namespace

base::Result<void> createFileExclusively(const std::filesystem::path& path, std::string_view bytes,
                                         mode_t mode) {
  // O_EXCL with O_CREAT refuses any existing entry and never follows a link at the name.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return failure(path, "cannot create", errno);
  auto fail = [&](std::string_view what) {
    const int number = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return failure(path, what, number);
  };
  // The umask may have taken bits away; the caller's mode is the one wanted.
  if (::fchmod(fd, mode) != 0) return fail("cannot set its permissions");
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return fail("cannot write");
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(fd) != 0) {
    const int number = errno;
    ::unlink(path.c_str());
    return failure(path, "cannot write", number);
  }
  return {};
}

std::optional<std::string> randomHexToken(std::size_t byteCount) {
  std::vector<unsigned char> bytes(byteCount);
  std::size_t filled = 0;
  while (filled < byteCount) {
    const ssize_t got = ::getrandom(bytes.data() + filled, byteCount - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    filled += static_cast<std::size_t>(got);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  token.reserve(2 * byteCount);
  for (const unsigned char byte : bytes) {
    token.push_back(kHex[byte >> 4]);
    token.push_back(kHex[byte & 0xF]);
  }
  return token;
}

}  // namespace zv::platform
