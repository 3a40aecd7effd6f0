// kinetra delete NAME [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

constexpr const char* kName = "delete";

struct Options {
  DeviceOptions device;
  std::string name;
};

int run(const Options& options) {
  std::string error;
  const auto device = openDevice(options.device, error);
  if (!device) return fail(kName, error);
  const auto store = storeOf(*device);
  const std::string& name = options.name;
  if (!store->profileExistsWithName(name)) {
    return fail(kName, "no profile named '" + name + "' (see kinetra profiles)");
  }
  const bool wasCurrent = !store->noProfile() && store->currentProfileName() == name;
  if (!store->deleteProfileWithName(name, &error)) return fail(kName, error);
  if (wasCurrent) store->setCurrentProfileByName(store->defaultProfileName());
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (switcher && !switcher->mappingsForProfile(name).empty()) {
    switcher->removeProfile(name);
    if (!switcher->writeConfig(&error)) return fail(kName, error);
  }
  std::cout << "deleted " << name << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Deletes a profile's file and its application links. The default profile cannot be\n"
      "deleted; when the current profile is deleted, the default one takes its place.\n");
  command.add_option("NAME", options->name, "the profile")->required();
  addDeviceOptions(command, options->device);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "delete a profile", define);

}  // namespace
}  // namespace kinetra
