#include "update/PackageInstaller.h"

#include <cstdlib>

#include "platform/SpawnProcess.h"

namespace zv::update {

InstallTools InstallTools::ofThisSystem() {
  InstallTools tools;
  tools.pkexec = platform::isExecutableInPath("pkexec");
  tools.aptGet = platform::isExecutableInPath("apt-get");
  tools.xdgOpen = platform::isExecutableInPath("xdg-open");
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  tools.graphical = set("DISPLAY") || set("WAYLAND_DISPLAY");
  return tools;
}

std::vector<std::string> packageInstallCommand(const std::filesystem::path& package,
                                               const InstallTools& tools) {
  // apt-get takes a local file only when its name holds a "/"; an absolute path always does.
  const std::string file = std::filesystem::absolute(package).lexically_normal().string();
  if (tools.pkexec && tools.aptGet) {
    return {"pkexec", "apt-get", "install", "-y", "--no-remove", file};
  }
  if (tools.xdgOpen && tools.graphical) return {"xdg-open", file};
  return {};
}

bool SystemPackageInstaller::install(const std::filesystem::path& package, std::string* error) {
  const auto command = packageInstallCommand(package, InstallTools::ofThisSystem());
  if (command.empty()) {
    if (error) {
      *error = "no package tool to install " + package.string() +
               " with (pkexec and apt-get, or xdg-open in a desktop session); install it with "
               "'sudo apt-get install " +
               std::filesystem::absolute(package).string() + "'";
    }
    return false;
  }
  platform::SpawnOptions options;
  options.nullInput = true;  // apt-get must not wait for an answer on a terminal
  const auto started = platform::spawnProcess(command, options, loop_);
  if (!started && error) *error = started.failure().message;
  return started.ok();
}

}  // namespace zv::update
