// The focused application under Hyprland: its event socket tells when the focus moves,
// and a request on its request socket then says which process owns the focused window.
// Both sockets are read from the run loop; nothing blocks and nothing polls.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/Result.h"
#include "platform/FrontmostApplication.h"
#include "platform/RunLoop.h"
#include "platform/linux/HyprlandEvents.h"
#include "platform/linux/WatchedSocket.h"

namespace zv::platform {

class HyprlandFrontmostApplication : public FrontmostApplication {
 public:
  // The folder of the running instance's sockets: $XDG_RUNTIME_DIR/hypr/SIGNATURE, or
  // /tmp/hypr/SIGNATURE (older releases), with SIGNATURE from
  // $HYPRLAND_INSTANCE_SIGNATURE; nothing when that is unset or neither folder exists.
  static std::optional<std::filesystem::path> socketFolder();

  // Connects to the event socket in `folder` and asks for the focus at start. Nothing,
  // with `error` set, when Hyprland does not answer there.
  static base::Result<std::unique_ptr<HyprlandFrontmostApplication>> open(
      RunLoop& loop, const std::filesystem::path& folder,
      ExecutableLookup lookup = executableOfProcess);

  std::string_view providerName() const override { return "Hyprland"; }

 private:
  HyprlandFrontmostApplication(RunLoop& loop, std::filesystem::path requestSocket,
                               ExecutableLookup lookup)
      : loop_(loop), requestSocket_(std::move(requestSocket)), lookup_(std::move(lookup)) {}
  void onEvents(std::string_view bytes);
  // Asks which window has the focus; the answer is reported when it comes.
  void query();
  void onReply(std::uint64_t sequence);
  void disconnect(const std::string& why);

  struct Query {
    std::unique_ptr<WatchedSocket> socket;
    std::string reply;
  };

  RunLoop& loop_;
  std::unique_ptr<WatchedSocket> events_;
  std::filesystem::path requestSocket_;
  ExecutableLookup lookup_;
  hyprland::LineReader reader_;
  std::map<std::uint64_t, Query> queries_;
  std::uint64_t nextSequence_ = 1;
  // Answers can overtake each other; one older than the last reported one is stale.
  std::uint64_t reportedSequence_ = 0;
};

}  // namespace zv::platform
