#include "testing/LineReader.h"

#include <unistd.h>

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

}  // namespace zv::testing
