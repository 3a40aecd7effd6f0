#include "platform/linux/HyprlandFrontmostApplication.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/linux/UnixSocket.h"

namespace zv::platform {

namespace {
// The request socket answers small JSON objects; a reply beyond this is not one.
constexpr std::size_t kMaxReply = 1u << 20;
}  // namespace

std::optional<std::filesystem::path> HyprlandFrontmostApplication::socketFolder() {
  const char* signature = std::getenv("HYPRLAND_INSTANCE_SIGNATURE");
  if (!signature || !*signature ||
      std::string_view(signature).find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  std::error_code ec;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    const std::filesystem::path folder = std::filesystem::path(runtime) / "hypr" / signature;
    if (std::filesystem::is_directory(folder, ec)) return folder;
  }
  const std::filesystem::path legacy = std::filesystem::path("/tmp/hypr") / signature;
  if (std::filesystem::is_directory(legacy, ec)) return legacy;
  return std::nullopt;
}

std::unique_ptr<HyprlandFrontmostApplication> HyprlandFrontmostApplication::open(
    RunLoop& loop, const std::filesystem::path& folder, ExecutableLookup lookup,
    std::string* error) {
  const int fd = connectUnixSocket(folder / ".socket2.sock", error);
  if (fd < 0) return nullptr;
  std::unique_ptr<HyprlandFrontmostApplication> provider(
      new HyprlandFrontmostApplication(loop, fd, folder / ".socket.sock", std::move(lookup)));
  provider->watch_ =
      loop.watchFd(fd, EPOLLIN, [p = provider.get()](std::uint32_t) { p->onEvents(); });
  if (!provider->watch_) {
    if (error) *error = "cannot watch Hyprland's event socket";
    return nullptr;
  }
  provider->query();
  return provider;
}

HyprlandFrontmostApplication::HyprlandFrontmostApplication(RunLoop& loop, int fd,
                                                           std::filesystem::path requestSocket,
                                                           ExecutableLookup lookup)
    : loop_(loop), fd_(fd), requestSocket_(std::move(requestSocket)), lookup_(std::move(lookup)) {}

HyprlandFrontmostApplication::~HyprlandFrontmostApplication() {
  while (!queries_.empty()) endQuery(queries_.begin()->first);
  if (watch_) loop_.unwatchFd(watch_);
  if (fd_ >= 0) ::close(fd_);
}

void HyprlandFrontmostApplication::disconnect(const std::string& why) {
  if (watch_) loop_.unwatchFd(watch_);
  watch_ = 0;
  ::close(fd_);
  fd_ = -1;
  setDisconnected(why);
}

void HyprlandFrontmostApplication::onEvents() {
  std::string bytes;
  std::string error;
  const bool open = receiveAvailable(fd_, bytes, &error);
  reader_.append(bytes);
  bool focusMoved = false;
  while (auto line = reader_.next()) focusMoved |= hyprland::isActiveWindowEvent(*line);
  // One question answers every focus change read in this round.
  if (focusMoved) query();
  if (reader_.failed()) return disconnect("the event socket sent a line without end");
  if (!open) disconnect(error);
}

void HyprlandFrontmostApplication::query() {
  std::string error;
  const int fd = connectUnixSocket(requestSocket_, &error);
  if (fd < 0 || !sendAll(fd, hyprland::kActiveWindowRequest, &error)) {
    // No answer this time; the next focus change asks again.
    if (fd >= 0) ::close(fd);
    return;
  }
  const std::uint64_t sequence = nextSequence_++;
  Query& query = queries_[sequence];
  query.fd = fd;
  query.watch = loop_.watchFd(fd, EPOLLIN, [this, sequence](std::uint32_t) { onReply(sequence); });
  if (!query.watch) endQuery(sequence);
}

void HyprlandFrontmostApplication::endQuery(std::uint64_t sequence) {
  const auto it = queries_.find(sequence);
  if (it == queries_.end()) return;
  if (it->second.watch) loop_.unwatchFd(it->second.watch);
  ::close(it->second.fd);
  queries_.erase(it);
}

void HyprlandFrontmostApplication::onReply(std::uint64_t sequence) {
  const auto it = queries_.find(sequence);
  if (it == queries_.end()) return;
  Query& query = it->second;
  const bool open = receiveAvailable(query.fd, query.reply);
  if (query.reply.size() > kMaxReply) return endQuery(sequence);
  // The compositor closes the connection after its answer.
  if (open) return;
  const auto focus = hyprland::focusFromActiveWindowReply(query.reply);
  endQuery(sequence);
  if (!focus || sequence < reportedSequence_) return;
  reportedSequence_ = sequence;
  FocusedApplication application;
  application.pid = focus->pid;
  application.name = focus->name;
  if (focus->pid > 0)
    application.executable = lookup_(focus->pid).value_or(std::filesystem::path());
  report(application);
}

}  // namespace zv::platform
