// kinetra link APP PROFILE [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "ApplicationOption.h"
#include "DeviceOption.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra link APP PROFILE [--device ALIAS] [--bundle PATH]\n\n"
    "Links PROFILE to an application: while the application has the focus, the agent\n"
    "makes PROFILE current, and gives the profile from before back when you move on to\n"
    "an application without a link. APP is a program name found in PATH (firefox), its\n"
    "path (/usr/bin/firefox; symbolic links are followed to the program that runs) or\n"
    "its key (file:/usr/lib/firefox-esr/firefox-esr). The links are kept in\n"
    "mappings.xml beside the profiles; running programs follow changes at once.\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("link", error);
  if (args.size() != 2) return usageError(*findCommand("link"), "give APP and PROFILE");
  const std::string key = applicationKeyFor(args[0], error);
  if (key.empty()) return failWith("link", error);
  const auto device = openDevice(options, error);
  if (!device) return failWith("link", error);
  if (!storeOf(*device)->profileExistsWithName(args[1])) {
    return failWith("link", "no profile named '" + args[1] + "' (see kinetra profiles)");
  }
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (!switcher->setProfile(args[1], key, &error)) return failWith("link", error);
  std::cout << "linked " << key << " to " << args[1] << "\n";
  return 0;
}

const CommandRegistration registration("link", "link a profile to an application", kUsage, run);

}  // namespace
}  // namespace kinetra
