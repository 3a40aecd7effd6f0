#include "platform/linux/WatchedSocket.h"

#include <sys/epoll.h>
#include <unistd.h>

#include "platform/linux/UnixSocket.h"

namespace zv::platform {

std::unique_ptr<WatchedSocket> WatchedSocket::open(RunLoop& loop, const std::string& path,
                                                   std::string_view request, Reader reader,
                                                   EndHandler ended, std::string* error) {
  const int fd = connectUnixSocket(path, error);
  if (fd < 0) return nullptr;
  if (!request.empty() && !sendAll(fd, request, error)) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<WatchedSocket> socket(
      new WatchedSocket(loop, fd, std::move(reader), std::move(ended)));
  socket->watch_ =
      loop.watchFd(fd, EPOLLIN, [s = socket.get()](std::uint32_t) { s->onReadable(); });
  if (!socket->watch_) {
    if (error) *error = "cannot watch the socket " + path;
    return nullptr;
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
  std::string error;
  const bool open = receiveAvailable(fd_, bytes, &error);
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
  ended(error);
}

}  // namespace zv::platform
