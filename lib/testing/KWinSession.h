// A headless KWin (kwin_wayland with its virtual back end) for the tests of the focus
// provider, with two virtual desktops: a window opened on each, switching desktops moves
// the focus between them. The installed kwin_wayland carries a file capability that the
// development machines refuse to execute, so a copy without it runs.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "testing/HeadlessDesktop.h"

namespace zv::testing {

class KWinSession : public HeadlessDesktop {
 public:
  // Nothing, with `why` set, when kwin_wayland is not installed or does not come up.
  static std::unique_ptr<KWinSession> start(const std::filesystem::path& folder, std::string* why);

  // Makes virtual desktop `desktop` (1 or 2) the current one; its window takes the focus.
  bool showDesktop(int desktop);

 private:
  using HeadlessDesktop::HeadlessDesktop;
};

}  // namespace zv::testing
