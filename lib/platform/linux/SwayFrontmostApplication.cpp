#include "platform/linux/SwayFrontmostApplication.h"

#include <sys/epoll.h>
#include <unistd.h>

#include "platform/linux/UnixSocket.h"

namespace zv::platform {

std::unique_ptr<SwayFrontmostApplication> SwayFrontmostApplication::open(
    RunLoop& loop, const std::string& socketPath, ExecutableLookup lookup, std::string* error) {
  const int fd = connectUnixSocket(socketPath, error);
  if (fd < 0) return nullptr;
  // The tree first, so the focus at start is known; then the events that change it.
  const std::string request = sway::encodeMessage(sway::kGetTree, "") +
                              sway::encodeMessage(sway::kSubscribe, R"(["window","workspace"])");
  if (!sendAll(fd, request, error)) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<SwayFrontmostApplication> provider(
      new SwayFrontmostApplication(loop, fd, std::move(lookup)));
  provider->watch_ =
      loop.watchFd(fd, EPOLLIN, [p = provider.get()](std::uint32_t) { p->onReadable(); });
  if (!provider->watch_) {
    if (error) *error = "cannot watch the compositor's socket";
    return nullptr;
  }
  return provider;
}

SwayFrontmostApplication::SwayFrontmostApplication(RunLoop& loop, int fd, ExecutableLookup lookup)
    : loop_(loop), fd_(fd), lookup_(std::move(lookup)) {}

SwayFrontmostApplication::~SwayFrontmostApplication() {
  if (watch_) loop_.unwatchFd(watch_);
  if (fd_ >= 0) ::close(fd_);
}

void SwayFrontmostApplication::disconnect(const std::string& why) {
  if (watch_) loop_.unwatchFd(watch_);
  watch_ = 0;
  ::close(fd_);
  fd_ = -1;
  setDisconnected(why);
}

void SwayFrontmostApplication::onReadable() {
  std::string bytes;
  std::string error;
  const bool open = receiveAvailable(fd_, bytes, &error);
  reader_.append(bytes);
  while (auto message = reader_.next()) {
    handle(*message);
    if (fd_ < 0) return;
  }
  if (reader_.failed()) return disconnect(reader_.error());
  if (!open) disconnect(error);
}

void SwayFrontmostApplication::handle(const sway::Message& message) {
  std::optional<sway::Focus> focus;
  switch (message.type) {
    case sway::kGetTree:
      focus = sway::focusFromTree(message.payload);
      break;
    case sway::kWindowEvent:
      focus = sway::focusFromWindowEvent(message.payload);
      break;
    case sway::kWorkspaceEvent:
      focus = sway::focusFromWorkspaceEvent(message.payload);
      break;
    case sway::kSubscribe:
      if (message.payload.find("true") == std::string::npos) {
        disconnect("the compositor refused to send window events");
      }
      return;
    default:
      return;
  }
  if (!focus) return;
  FocusedApplication application;
  application.pid = focus->pid;
  application.name = focus->name;
  if (focus->pid > 0)
    application.executable = lookup_(focus->pid).value_or(std::filesystem::path());
  report(application);
}

}  // namespace zv::platform
