// kinetra profiles [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"

namespace kinetra {
namespace {

constexpr const char* kName = "profiles";

int run(const DeviceOptions& options) {
  std::string error;
  const auto device = openDevice(options, error);
  if (!device) return fail(kName, error);
  const auto store = storeOf(*device);
  const bool none = store->noProfile();
  const std::string current = store->currentProfileName();
  const auto startup = store->startupProfilePath();
  std::cout << device->name() << " (" << device->alias() << "), profiles in "
            << store->profilePath().string() << "\n";
  for (const auto& name : store->profileNames()) {
    std::cout << (!none && name == current ? "* " : "  ") << name;
    if (name == store->defaultProfileName()) std::cout << "  (default)";
    if (startup && !startup->empty() && store->pathForProfile(name) == *startup) {
      std::cout << "  start-up";
    }
    std::cout << "\n";
  }
  if (none) std::cout << "no profile is active\n";
  if (startup && startup->empty()) std::cout << "no start-up profile\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<DeviceOptions>();
  command.footer(
      "Lists the profiles in the order of the agent's menu, the default profile first.\n"
      "'*' marks the current profile, 'start-up' the one the agent starts with. The\n"
      "profiles live in ~/.local/share/Kinetra/<ProfilePath>/.\n");
  addDeviceOptions(command, *options);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "list a device's profiles", define);

}  // namespace
}  // namespace kinetra
