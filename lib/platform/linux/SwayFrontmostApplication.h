// The focused application under sway or i3, from the compositor's IPC socket: the
// provider asks for the tree once (the focus at start) and subscribes to window and
// workspace events, so each focus change arrives as an event on the run loop.
#pragma once

#include <memory>
#include <string>

#include "base/Result.h"
#include "platform/FrontmostApplication.h"
#include "platform/RunLoop.h"
#include "platform/linux/SwayIpc.h"
#include "platform/linux/WatchedSocket.h"

namespace zv::platform {

class SwayFrontmostApplication : public FrontmostApplication {
 public:
  // Connects to the IPC socket at `socketPath` ($SWAYSOCK, $I3SOCK) and starts listening
  // on `loop`. A failure saying why when nobody answers there.
  static base::Result<std::unique_ptr<SwayFrontmostApplication>> open(
      RunLoop& loop, const std::string& socketPath, ExecutableLookup lookup = executableOfProcess);

  std::string_view providerName() const override { return "sway"; }

 private:
  explicit SwayFrontmostApplication(ExecutableLookup lookup) : lookup_(std::move(lookup)) {}
  void onBytes(std::string_view bytes);
  void handle(const sway::Message& message);
  void disconnect(const std::string& why);

  std::unique_ptr<WatchedSocket> socket_;
  ExecutableLookup lookup_;
  sway::MessageReader reader_;
};

}  // namespace zv::platform
