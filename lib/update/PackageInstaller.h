// How a downloaded update reaches the system. The package is never run: it is handed to
// the system's package tool, which checks it, asks for administrator rights through
// polkit and installs it with its dependencies.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zv::platform {
class RunLoop;
}

namespace zv::update {

class PackageInstaller {
 public:
  virtual ~PackageInstaller() = default;
  // Starts installing `package` (a Debian package) without waiting for it. Answers false,
  // with `error` saying why, when no installer could be started.
  virtual bool install(const std::filesystem::path& package, std::string* error) = 0;
};

// What the system offers for installing a package.
struct InstallTools {
  bool pkexec = false;     // polkit's pkexec
  bool aptGet = false;     // apt-get
  bool xdgOpen = false;    // xdg-open, to hand the file to the desktop's software centre
  bool graphical = false;  // a desktop session (DISPLAY or WAYLAND_DISPLAY)
  static InstallTools ofThisSystem();
};

// The command that installs `package`: "pkexec apt-get install -y --no-remove PACKAGE"
// when both tools exist (apt resolves dependencies and refuses to remove anything to make
// room), else "xdg-open PACKAGE" in a desktop session. Empty when neither works.
std::vector<std::string> packageInstallCommand(const std::filesystem::path& package,
                                               const InstallTools& tools);

// Runs packageInstallCommand() for this system; the child is reaped on `loop`.
class SystemPackageInstaller : public PackageInstaller {
 public:
  explicit SystemPackageInstaller(platform::RunLoop& loop) : loop_(loop) {}
  bool install(const std::filesystem::path& package, std::string* error) override;

 private:
  platform::RunLoop& loop_;
};

}  // namespace zv::update
