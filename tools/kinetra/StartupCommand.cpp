// kinetra startup NAME|--none [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "DeviceOption.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra startup NAME|--none [--device ALIAS] [--bundle PATH]\n\n"
    "Chooses the profile the agent makes current when it starts; --none chooses none\n"
    "(the agent then starts with the default profile).\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("startup", error);
  if (args.size() != 1) {
    return usageError(*findCommand("startup"), "give one profile NAME or --none");
  }
  const auto device = openDevice(options, error);
  if (!device) return failWith("startup", error);
  const auto store = storeOf(*device);
  if (args[0] == "--none") {
    store->setStartupProfileByName("");
    std::cout << "no start-up profile\n";
    return 0;
  }
  if (!store->profileExistsWithName(args[0])) {
    return failWith("startup", "no profile named '" + args[0] + "' (see kinetra profiles)");
  }
  store->setStartupProfileByName(args[0]);
  std::cout << "start-up profile: " << args[0] << "\n";
  return 0;
}

const CommandRegistration registration("startup", "choose the profile the agent starts with",
                                       kUsage, run);

}  // namespace
}  // namespace kinetra
