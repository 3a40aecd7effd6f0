// kinetra use NAME|--none [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "DeviceOption.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra use NAME|--none [--device ALIAS] [--bundle PATH]\n\n"
    "Makes profile NAME the current one, as choosing it in the agent's menu does; the\n"
    "running agent and editor follow at once. --none turns profiles off (the mouse\n"
    "works as a plain mouse).\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("use", error);
  if (args.size() != 1) return usageError(*findCommand("use"), "give one profile NAME or --none");
  const auto device = openDevice(options, error);
  if (!device) return failWith("use", error);
  const auto store = storeOf(*device);
  if (args[0] == "--none") {
    store->setNoProfile(true);
    std::cout << "no profile is active\n";
    return 0;
  }
  if (!store->profileExistsWithName(args[0])) {
    return failWith("use", "no profile named '" + args[0] + "' (see kinetra profiles)");
  }
  store->setCurrentProfileByName(args[0]);
  if (store->noProfile()) store->setNoProfile(false);
  std::cout << "current profile: " << store->currentProfileName() << "\n";
  return 0;
}

const CommandRegistration registration("use", "make a profile current", kUsage, run);

}  // namespace
}  // namespace kinetra
