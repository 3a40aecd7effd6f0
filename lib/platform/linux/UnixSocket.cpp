#include "platform/linux/UnixSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zv::platform {

namespace {
void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}
}  // namespace

int connectUnixSocket(const std::string& path, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    setError(error, "'" + path + "' cannot be a socket address (too long or empty)");
    return -1;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setError(error, std::string("cannot create a socket: ") + std::strerror(errno));
    return -1;
  }
  // A local connect completes at once (or is refused); only later reads must not block.
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    setError(error, "cannot connect to " + path + ": " + std::strerror(errno));
    ::close(fd);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  return fd;
}

bool sendAll(int fd, std::string_view bytes, std::string* error) {
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
    setError(error, std::string("cannot send: ") +
                        (n < 0 ? std::strerror(errno) : "the peer takes nothing"));
    return false;
  }
  return true;
}

bool receiveAvailable(int fd, std::string& buffer, std::string* error) {
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) {
      setError(error, "the peer closed the connection");
      return false;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    setError(error, std::string("cannot read: ") + std::strerror(errno));
    return false;
  }
}

}  // namespace zv::platform
