#include "platform/linux/WatchedSocket.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/UnixSocket.h"

namespace zv::platform {

base::Result<std::unique_ptr<WatchedSocket>> WatchedSocket::open(RunLoop& loop,
                                                                 const std::string& path,
                                                                 std::string_view request,
                                                                 Reader reader, EndHandler ended) {
  const auto connected = connectUnixSocket(path);
  if (!connected) return connected.failure();
  const int fd = *connected;
  if (!request.empty()) {
    if (auto sent = sendAll(fd, request); !sent) {
      ::close(fd);
      return sent.failure();
    }
  }
  std::unique_ptr<WatchedSocket> socket(
      new WatchedSocket(loop, fd, std::move(reader), std::move(ended)));
  socket->watch_ =
      loop.watchFd(fd, EPOLLIN, [s = socket.get()](std::uint32_t) { s->onReadable(); });
  if (!socket->watch_) {
    return base::Failure{base::kSystemDomain, EBADF, "cannot watch the socket " + path};
  }
  return socket;
}

WatchedSocket::WatchedSocket(RunLoop& loop, int fd, Reader reader, EndHandler ended)
    : loop_(loop), fd_(fd), reader_(std::move(reader)), ended_(std::move(ended)) {}

WatchedSocket::~WatchedSocket() {
  *alive_ = false;
  close();
}

void WatchedSocket::close() {
  if (watch_) loop_.unwatchFd(watch_);
  watch_ = 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void WatchedSocket::onReadable() {
  if (fd_ < 0) return;
  std::string bytes;
  const base::Result<bool> received = receiveAvailable(fd_, bytes);
  const bool open = received && *received;
  const std::string why =
      received ? std::string("the peer closed the connection") : received.failure().message;
  // The handlers may destroy this object: they are called from copies, and nothing of
  // the object is touched once it has gone.
  const std::shared_ptr<bool> alive = alive_;
  if (!bytes.empty()) {
    const Reader reader = reader_;
    reader(bytes);
  }
  if (!*alive || fd_ < 0 || open) return;
  close();
  const EndHandler ended = ended_;
  ended(why);
}

}  // namespace zv::platform
