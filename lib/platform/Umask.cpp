#include "platform/Umask.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zv::platform {

namespace {

std::optional<mode_t> umaskFromProc() {
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  // The whole status is about 1.5 KiB; "Umask:" is its third line.
  char buffer[4096];
  std::size_t size = 0;
  while (size < sizeof buffer) {
    const ssize_t n = ::read(fd, buffer + size, sizeof buffer - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return umaskFromStatus(std::string_view(buffer, size));
}

// Read while the library loads, before any thread of the program can create a file.
const mode_t startupUmask = [] {
  if (const auto mask = umaskFromProc()) return *mask;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}();

}  // namespace

std::optional<mode_t> umaskFromStatus(std::string_view status) {
  constexpr std::string_view kLabel = "Umask:";
  std::size_t at = 0;
  while (at < status.size()) {
    std::size_t end = status.find('\n', at);
    if (end == std::string_view::npos) end = status.size();
    std::string_view line = status.substr(at, end - at);
    at = end + 1;
    if (line.substr(0, kLabel.size()) != kLabel) continue;
    line.remove_prefix(kLabel.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.size() > 4) return std::nullopt;
    mode_t mask = 0;
    for (const char c : line) {
      if (c < '0' || c > '7') return std::nullopt;
      mask = static_cast<mode_t>(mask * 8 + static_cast<mode_t>(c - '0'));
    }
    return mask;
  }
  return std::nullopt;
}

mode_t currentUmask() {
  if (const auto mask = umaskFromProc()) return *mask;
  return startupUmask;
}

}  // namespace zv::platform
