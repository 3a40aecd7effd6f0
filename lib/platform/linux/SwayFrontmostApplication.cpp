#include "platform/linux/SwayFrontmostApplication.h"

namespace zv::platform {

base::Result<std::unique_ptr<SwayFrontmostApplication>> SwayFrontmostApplication::open(
    RunLoop& loop, const std::string& socketPath, ExecutableLookup lookup) {
  std::unique_ptr<SwayFrontmostApplication> provider(
      new SwayFrontmostApplication(std::move(lookup)));
  // The tree first, so the focus at start is known; then the events that change it.
  const std::string request = sway::encodeMessage(sway::kGetTree, "") +
                              sway::encodeMessage(sway::kSubscribe, R"(["window","workspace"])");
  auto* p = provider.get();
  auto socket = WatchedSocket::open(
      loop, socketPath, request, [p](std::string_view bytes) { p->onBytes(bytes); },
      [p](const std::string& why) { p->disconnect(why); });
  if (!socket) return socket.failure();
  provider->socket_ = std::move(*socket);
  return provider;
}

void SwayFrontmostApplication::disconnect(const std::string& why) {
  socket_->close();
  setDisconnected(why);
}

void SwayFrontmostApplication::onBytes(std::string_view bytes) {
  reader_.append(bytes);
  while (auto message = reader_.next()) {
    handle(*message);
    if (!socket_->isOpen()) return;
  }
  if (reader_.failed()) disconnect(reader_.error());
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
  if (focus) report(applicationOfProcess(focus->pid, focus->name, lookup_));
}

}  // namespace zv::platform
