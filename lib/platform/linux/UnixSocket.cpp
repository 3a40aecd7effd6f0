#include "platform/linux/UnixSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zv::platform {

base::Result<int> connectUnixSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    return base::Failure{base::kSystemDomain, ENAMETOOLONG,
                         "'" + path + "' cannot be a socket address (too long or empty)"};
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return base::Failure::system(errno, "cannot create a socket");
  // A local connect completes at once (or is refused); only later reads must not block.
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int reason = errno;
    ::close(fd);
    return base::Failure::system(reason, "cannot connect to " + path);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  return fd;
}

base::Result<void> sendAll(int fd, std::string_view bytes) {
  int waits = 0;
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waits++ < 10) {
      pollfd ready{fd, POLLOUT, 0};
      ::poll(&ready, 1, 100);
      continue;
    }
    if (n < 0) return base::Failure::system(errno, "cannot send");
    return base::Failure{base::kSystemDomain, EPIPE, "cannot send: the peer takes nothing"};
  }
  return {};
}

base::Result<bool> receiveAvailable(int fd, std::string& buffer) {
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    return base::Failure::system(errno, "cannot read");
  }
}

}  // namespace zv::platform
