// kinetra rename OLD NEW [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "DeviceOption.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra rename OLD NEW [--device ALIAS] [--bundle PATH]\n\n"
    "Renames a profile. It stays current, start-up profile and linked to its applications\n"
    "under the new name. A profile that already has the name NEW is never overwritten.\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("rename", error);
  if (args.size() != 2) return usageError(*findCommand("rename"), "give OLD and NEW");
  const auto device = openDevice(options, error);
  if (!device) return failWith("rename", error);
  const auto store = storeOf(*device);
  if (!store->profileExistsWithName(args[0])) {
    return failWith("rename", "no profile named '" + args[0] + "' (see kinetra profiles)");
  }
  if (!store->renameProfile(args[0], args[1], &error)) return failWith("rename", error);
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (switcher && !switcher->mappingsForProfile(args[0]).empty()) {
    switcher->renameProfile(args[0], args[1]);
    if (!switcher->writeConfig(&error)) return failWith("rename", error);
  }
  std::cout << "renamed " << args[0] << " to " << args[1] << "\n";
  return 0;
}

const CommandRegistration registration("rename", "rename a profile", kUsage, run);

}  // namespace
}  // namespace kinetra
