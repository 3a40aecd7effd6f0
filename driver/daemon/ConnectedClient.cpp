#include "daemon/ConnectedClient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "daemon/UserClientServer.h"
#include "protocol/UserClientProtocol.h"

namespace zv::driver {

com_Zenvor_userclient_Skarn::com_Zenvor_userclient_Skarn(std::uint64_t id, int fd, Peer peer,
                                                         UserClientServer& server)
    : id_(id), fd_(fd), peer_(peer), server_(server) {}

com_Zenvor_userclient_Skarn::~com_Zenvor_userclient_Skarn() {
  close(fd_);
}

void com_Zenvor_userclient_Skarn::registerCallback(std::uint64_t reference) {
  reference_ = reference;
  callbackRegistered_ = true;
}

void com_Zenvor_userclient_Skarn::sendElementEvent(std::uint32_t element, std::uint64_t value,
                                                   std::uint32_t bitSize) {
  if (!callbackRegistered_) return;
  const auto frame = userclient::encodeCompletion(reference_, element, value, bitSize);
  send(frame);
}

void com_Zenvor_userclient_Skarn::send(std::span<const std::uint8_t> frame) {
  if (dropping_) return;
  if (queue_.empty()) {
    const ssize_t n = ::send(fd_, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(frame.size())) return;
    if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      server_.scheduleDrop(*this, "the connection failed");
      return;
    }
  }
  if (queue_.size() >= userclient::kMaxQueuedFrames) {
    server_.scheduleDrop(*this, "it stopped reading");
    return;
  }
  queue_.emplace_back(frame.begin(), frame.end());
  if (queue_.size() == 1) server_.updateInterest(*this);
}

bool com_Zenvor_userclient_Skarn::flush() {
  while (!queue_.empty()) {
    const std::vector<std::uint8_t>& frame = queue_.front();
    const ssize_t n = ::send(fd_, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n != static_cast<ssize_t>(frame.size())) return false;
    queue_.pop_front();
  }
  return true;
}

}  // namespace zv::driver
