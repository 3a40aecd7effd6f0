// kinetra rename OLD NEW [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

constexpr const char* kName = "rename";

struct Options {
  DeviceOptions device;
  std::string oldName;
  std::string newName;
};

int run(const Options& options) {
  std::string error;
  const auto device = openDevice(options.device, error);
  if (!device) return fail(kName, error);
  const auto store = storeOf(*device);
  if (!store->profileExistsWithName(options.oldName)) {
    return fail(kName, "no profile named '" + options.oldName + "' (see kinetra profiles)");
  }
  if (!store->renameProfile(options.oldName, options.newName, &error)) return fail(kName, error);
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (switcher && !switcher->mappingsForProfile(options.oldName).empty()) {
    switcher->renameProfile(options.oldName, options.newName);
    if (!switcher->writeConfig(&error)) return fail(kName, error);
  }
  std::cout << "renamed " << options.oldName << " to " << options.newName << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Renames a profile. It stays current, start-up profile and linked to its applications\n"
      "under the new name. A profile that already has the name NEW is never overwritten.\n");
  command.add_option("OLD", options->oldName, "the profile")->required();
  command.add_option("NEW", options->newName, "its new name")->required();
  addDeviceOptions(command, options->device);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "rename a profile", define);

}  // namespace
}  // namespace kinetra
