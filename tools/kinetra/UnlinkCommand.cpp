// kinetra unlink APP [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "ApplicationOption.h"
#include "DeviceOption.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra unlink APP [--device ALIAS] [--bundle PATH]\n\n"
    "Removes the link of an application (named as for kinetra link).\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("unlink", error);
  if (args.size() != 1) return usageError(*findCommand("unlink"), "give one APP");
  const std::string key = applicationKeyFor(args[0], error);
  if (key.empty()) return failWith("unlink", error);
  const auto device = openDevice(options, error);
  if (!device) return failWith("unlink", error);
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (!switcher->profileForKey(key)) return failWith("unlink", key + " has no link");
  if (!switcher->unsetProfile("", key, &error)) return failWith("unlink", error);
  std::cout << "unlinked " << key << "\n";
  return 0;
}

const CommandRegistration registration("unlink", "remove an application's link", kUsage, run);

}  // namespace
}  // namespace kinetra
