// A headless GNOME Shell (Wayland, a virtual monitor) for the tests of the focus provider,
// started as the development machines allow it: in a private mount namespace with a
// tmpfs over /run/systemd (where the "seats" folder would make the shell look for
// logind), with private session and system buses, settings kept in a key file of the
// session's folder. It loads extensions from the folders it is given; the test extension
// in tests/platform/gnome-shell, enabled from the start, says when the shell is ready
// and moves the focus on request.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testing/HeadlessDesktop.h"

namespace zv::testing {

class GnomeShellSession : public HeadlessDesktop {
 public:
  // `extensions` are extension folders (named by their uuid) the shell may load; the test
  // extension must be among them. Nothing, with `why` set, when GNOME Shell is not
  // installed, the process may not make a mount namespace, or the shell does not come up.
  static std::unique_ptr<GnomeShellSession> start(
      const std::filesystem::path& folder, const std::vector<std::filesystem::path>& extensions,
      std::string* why);
  ~GnomeShellSession() override;

  // Moves the focus to the window of process `pid`; false when the shell has none.
  bool activate(pid_t pid);

 private:
  using HeadlessDesktop::HeadlessDesktop;
  std::unique_ptr<PrivateBus> systemBus_;
};

}  // namespace zv::testing
