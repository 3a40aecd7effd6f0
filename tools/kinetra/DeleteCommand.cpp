// kinetra delete NAME [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "DeviceOption.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra delete NAME [--device ALIAS] [--bundle PATH]\n\n"
    "Deletes a profile's file and its application links. The default profile cannot be\n"
    "deleted; when the current profile is deleted, the default one takes its place.\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("delete", error);
  if (args.size() != 1) return usageError(*findCommand("delete"), "give one profile NAME");
  const auto device = openDevice(options, error);
  if (!device) return failWith("delete", error);
  const auto store = storeOf(*device);
  if (!store->profileExistsWithName(args[0])) {
    return failWith("delete", "no profile named '" + args[0] + "' (see kinetra profiles)");
  }
  const bool wasCurrent = !store->noProfile() && store->currentProfileName() == args[0];
  if (!store->deleteProfileWithName(args[0], &error)) return failWith("delete", error);
  if (wasCurrent) store->setCurrentProfileByName(store->defaultProfileName());
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (switcher && !switcher->mappingsForProfile(args[0]).empty()) {
    switcher->removeProfile(args[0]);
    if (!switcher->writeConfig(&error)) return failWith("delete", error);
  }
  std::cout << "deleted " << args[0] << "\n";
  return 0;
}

const CommandRegistration registration("delete", "delete a profile", kUsage, run);

}  // namespace
}  // namespace kinetra
