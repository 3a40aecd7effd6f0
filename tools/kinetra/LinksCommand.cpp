// kinetra links [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "DeviceOption.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra links [--device ALIAS] [--bundle PATH]\n\n"
    "Lists the application links: each application's key and its profile. A profile\n"
    "that no longer exists is marked; its link is dropped when the application next\n"
    "has the focus.\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("links", error);
  if (!args.empty()) return usageError(*findCommand("links"), "unexpected '" + args[0] + "'");
  const auto device = openDevice(options, error);
  if (!device) return failWith("links", error);
  const auto store = storeOf(*device);
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  for (const auto& [key, value] : *switcher->appMappings()) {
    if (!value.isString()) continue;
    std::cout << key << "  " << value.asString()
              << (store->profileExistsWithName(value.asString()) ? "" : "  (no such profile)")
              << "\n";
  }
  return 0;
}

const CommandRegistration registration("links", "list the application links", kUsage, run);

}  // namespace
}  // namespace kinetra
