#include "testing/LineReader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zv::testing {

void readLines(int fd, const std::function<void(std::string line)>& onLine) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      onLine(std::move(line));
    }
  }
  ::close(fd);
}

std::string readFirstLine(int fd, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::string line;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    const int result = ::poll(&ready, 1, static_cast<int>(std::max<long>(0, left.count())));
    if (result < 0 && errno == EINTR) continue;
    char c;
    if (result <= 0 || ::read(fd, &c, 1) <= 0) {
      line.clear();
      break;
    }
    if (c == '\n') break;
    line += c;
  }
  ::close(fd);
  return line;
}

}  // namespace zv::testing
