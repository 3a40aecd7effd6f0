// The focused application under sway or i3, from the compositor's IPC socket: the
// provider asks for the tree once (the focus at start) and subscribes to window and
// workspace events, so each focus change arrives as an event on the run loop.
#pragma once

#include <memory>
#include <string>

#include "platform/FrontmostApplication.h"
#include "platform/RunLoop.h"
#include "platform/linux/SwayIpc.h"

namespace zv::platform {

class SwayFrontmostApplication : public FrontmostApplication {
 public:
  // Connects to the IPC socket at `socketPath` ($SWAYSOCK, $I3SOCK) and starts listening
  // on `loop`. Nothing, with `error` set, when nobody answers there.
  static std::unique_ptr<SwayFrontmostApplication> open(
      RunLoop& loop, const std::string& socketPath, ExecutableLookup lookup = executableOfProcess,
      std::string* error = nullptr);
  ~SwayFrontmostApplication() override;

  std::string_view providerName() const override { return "sway"; }

 private:
  SwayFrontmostApplication(RunLoop& loop, int fd, ExecutableLookup lookup);
  void onReadable();
  void handle(const sway::Message& message);
  void disconnect(const std::string& why);

  RunLoop& loop_;
  int fd_;
  RunLoop::WatchId watch_ = 0;
  ExecutableLookup lookup_;
  sway::MessageReader reader_;
};

}  // namespace zv::platform
