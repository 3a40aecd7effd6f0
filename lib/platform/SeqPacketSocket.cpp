#include "platform/SeqPacketSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace zv::platform {

namespace {
// Not connected, or the path cannot name a Unix socket.
base::Failure unusable(std::string message) {
  return base::Failure{base::kSystemDomain, ENOTCONN, std::move(message)};
}
}  // namespace

SeqPacketSocket::~SeqPacketSocket() {
  close();
}

SeqPacketSocket::SeqPacketSocket(SeqPacketSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

SeqPacketSocket& SeqPacketSocket::operator=(SeqPacketSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void SeqPacketSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

base::Result<void> SeqPacketSocket::connect(const std::string& path) {
  close();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    return base::Failure{base::kSystemDomain, ENAMETOOLONG,
                         "socket path too long for a Unix socket: " + path};
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return base::Failure::system(errno, "cannot create a socket");
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int reason = errno;
    ::close(fd);
    return base::Failure::system(reason, "cannot connect to " + path);
  }
  fd_ = fd;
  return {};
}

base::Result<void> SeqPacketSocket::send(std::span<const std::uint8_t> packet) {
  if (fd_ < 0) return unusable("not connected");
  for (;;) {
    const ssize_t sent = ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(packet.size())) return {};
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return base::Failure::system(errno, "cannot send");
    return base::Failure{base::kSystemDomain, EMSGSIZE, "packet sent only in part"};
  }
}

base::Result<SeqPacketSocket::Status> SeqPacketSocket::receive(std::vector<std::uint8_t>& packet,
                                                               std::size_t maxSize, int timeoutMs) {
  if (fd_ < 0) return Status::Closed;
  pollfd wait{fd_, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&wait, 1, timeoutMs);
    if (ready > 0) break;
    if (ready == 0) return Status::Timeout;
    if (errno != EINTR) return base::Failure::system(errno, "cannot wait for the peer");
  }
  packet.resize(maxSize + 1);
  for (;;) {
    const ssize_t got = ::recv(fd_, packet.data(), packet.size(), MSG_DONTWAIT);
    if (got > 0) {
      packet.resize(static_cast<std::size_t>(got));
      return Status::Packet;
    }
    if (got == 0) {
      packet.clear();
      return Status::Closed;
    }
    if (errno == EINTR) continue;
    packet.clear();
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Status::Timeout;
    if (errno == ECONNRESET) return Status::Closed;
    return base::Failure::system(errno, "cannot receive");
  }
}

}  // namespace zv::platform
