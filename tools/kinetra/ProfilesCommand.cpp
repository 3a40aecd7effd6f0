// kinetra profiles [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "DeviceOption.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra profiles [--device ALIAS] [--bundle PATH]\n\n"
    "Lists the device's profiles in the order the agent's menu shows them, the default\n"
    "profile first. '*' marks the current profile; 'start-up' the one the agent starts\n"
    "with. The profiles live in ~/.local/share/Kinetra/<ProfilePath>/.\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("profiles", error);
  if (!args.empty()) return usageError(*findCommand("profiles"), "unexpected '" + args[0] + "'");
  const auto device = openDevice(options, error);
  if (!device) return failWith("profiles", error);
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

const CommandRegistration registration("profiles", "list a device's profiles", kUsage, run);

}  // namespace
}  // namespace kinetra
