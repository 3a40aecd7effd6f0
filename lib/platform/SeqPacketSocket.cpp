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
void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
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

bool SeqPacketSocket::connect(const std::string& path, std::string* error) {
  close();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    setError(error, "socket path too long for a Unix socket: " + path);
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setError(error, std::string("cannot create a socket: ") + std::strerror(errno));
    return false;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int reason = errno;
    ::close(fd);
    setError(error, "cannot connect to " + path + ": " + std::strerror(reason));
    return false;
  }
  fd_ = fd;
  return true;
}

bool SeqPacketSocket::send(std::span<const std::uint8_t> packet, std::string* error) {
  if (fd_ < 0) {
    setError(error, "not connected");
    return false;
  }
  for (;;) {
    const ssize_t sent = ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(packet.size())) return true;
    if (sent < 0 && errno == EINTR) continue;
    setError(error, sent < 0 ? std::string("cannot send: ") + std::strerror(errno)
                             : std::string("packet sent only in part"));
    return false;
  }
}

SeqPacketSocket::Status SeqPacketSocket::receive(std::vector<std::uint8_t>& packet,
                                                 std::size_t maxSize, int timeoutMs,
                                                 std::string* error) {
  if (fd_ < 0) {
    setError(error, "not connected");
    return Status::Closed;
  }
  pollfd wait{fd_, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&wait, 1, timeoutMs);
    if (ready > 0) break;
    if (ready == 0) return Status::Timeout;
    if (errno != EINTR) {
      setError(error, std::string("cannot wait for the peer: ") + std::strerror(errno));
      return Status::Failed;
    }
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
    setError(error, std::string("cannot receive: ") + std::strerror(errno));
    return Status::Failed;
  }
}

}  // namespace zv::platform
