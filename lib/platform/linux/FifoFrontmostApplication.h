// A focused-application provider for working without a desktop: focus changes are
// written as lines into a FIFO (FocusLines.h), so a script, a test or the demo can play
// the user moving between applications.
//
//   mkfifo /tmp/focus
//   KINETRA_FOCUS_FIFO=/tmp/focus perch --headless &
//   echo /usr/bin/firefox >/tmp/focus
//
// openFrontmostApplication() chooses it whenever KINETRA_FOCUS_FIFO is set, before any
// desktop interface. The provider keeps the FIFO open for writing too, so writers may come
// and go without ever ending its input. An executable named through a symbolic link is
// known by the link's target, as a desktop provider would know it from /proc.
//
// Threads: the run loop it was opened on.
#pragma once

#include <memory>
#include <string>

#include "base/Result.h"
#include "platform/FrontmostApplication.h"
#include "platform/RunLoop.h"
#include "platform/linux/FocusLines.h"

namespace zv::platform {

class FifoFrontmostApplication : public FrontmostApplication {
 public:
  // Opens the FIFO at `path` and listens on `loop`. A failure saying why when the path
  // is not a FIFO or cannot be opened.
  static base::Result<std::unique_ptr<FifoFrontmostApplication>> open(RunLoop& loop,
                                                                      const std::string& path);
  ~FifoFrontmostApplication() override;

  std::string_view providerName() const override { return "FIFO"; }

 private:
  FifoFrontmostApplication(RunLoop& loop, int fd) : loop_(loop), fd_(fd) {}
  void onReadable();
  void reportCompleteLines();

  RunLoop& loop_;
  int fd_;
  RunLoop::WatchId watch_ = 0;
  FocusLines lines_;
};

}  // namespace zv::platform
