// kinetra new [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "DeviceOption.h"
#include "profile/ZVProfile.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra new [--device ALIAS] [--bundle PATH]\n\n"
    "Makes a new profile from the device's seed profile and saves it as Untitled<n> (the\n"
    "smallest free number). Prints its name and file.\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("new", error);
  if (!args.empty()) return usageError(*findCommand("new"), "unexpected '" + args[0] + "'");
  const auto device = openDevice(options, error);
  if (!device) return failWith("new", error);
  const auto profile = storeOf(*device)->createUntitledProfile(&error);
  if (!profile) return failWith("new", error);
  std::cout << profile->string("profile") << "  " << profile->path()->string() << "\n";
  return 0;
}

const CommandRegistration registration("new", "make a new profile from the seed", kUsage, run);

}  // namespace
}  // namespace kinetra
