#include "platform/linux/HyprlandFrontmostApplication.h"

#include <cstdlib>

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

base::Result<std::unique_ptr<HyprlandFrontmostApplication>> HyprlandFrontmostApplication::open(
    RunLoop& loop, const std::filesystem::path& folder, ExecutableLookup lookup) {
  std::unique_ptr<HyprlandFrontmostApplication> provider(
      new HyprlandFrontmostApplication(loop, folder / ".socket.sock", std::move(lookup)));
  auto* p = provider.get();
  auto events = WatchedSocket::open(
      loop, (folder / ".socket2.sock").string(), {},
      [p](std::string_view bytes) { p->onEvents(bytes); },
      [p](const std::string& why) { p->disconnect(why); });
  if (!events) return events.failure();
  provider->events_ = std::move(*events);
  provider->query();
  return provider;
}

void HyprlandFrontmostApplication::disconnect(const std::string& why) {
  events_->close();
  setDisconnected(why);
}

void HyprlandFrontmostApplication::onEvents(std::string_view bytes) {
  reader_.append(bytes);
  bool focusMoved = false;
  while (auto line = reader_.next()) focusMoved |= hyprland::isActiveWindowEvent(*line);
  // One question answers every focus change read in this round.
  if (focusMoved) query();
  if (reader_.failed()) disconnect("the event socket sent a line without end");
}

void HyprlandFrontmostApplication::query() {
  const std::uint64_t sequence = nextSequence_++;
  auto socket = WatchedSocket::open(
      loop_, requestSocket_.string(), hyprland::kActiveWindowRequest,
      [this, sequence](std::string_view bytes) {
        Query& query = queries_[sequence];
        query.reply.append(bytes);
        if (query.reply.size() > kMaxReply) queries_.erase(sequence);
      },
      // The compositor closes the connection after its answer.
      [this, sequence](const std::string&) { onReply(sequence); });
  // No answer this time; the next focus change asks again.
  if (socket) queries_[sequence].socket = std::move(*socket);
}

void HyprlandFrontmostApplication::onReply(std::uint64_t sequence) {
  const auto it = queries_.find(sequence);
  if (it == queries_.end()) return;
  const auto focus = hyprland::focusFromActiveWindowReply(it->second.reply);
  queries_.erase(it);
  if (!focus || sequence < reportedSequence_) return;
  reportedSequence_ = sequence;
  report(applicationOfProcess(focus->pid, focus->name, lookup_));
}

}  // namespace zv::platform
