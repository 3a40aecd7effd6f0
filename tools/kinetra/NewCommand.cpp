// kinetra new [NAME] [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "engine/ZVProfile.h"
#include "store/ZVProfileStore.h"

namespace kinetra {
namespace {

constexpr const char* kName = "new";

struct Options {
  DeviceOptions device;
  std::string name;
};

int run(const Options& options) {
  std::string error;
  const auto device = openDevice(options.device, error);
  if (!device) return fail(kName, error);
  const auto store = storeOf(*device);
  if (!options.name.empty()) {
    if (!zv::store::ZVProfileStore::isUsableProfileName(options.name)) {
      return fail(kName, "'" + options.name + "' cannot name a profile file");
    }
    if (store->profileExistsWithName(options.name)) {
      return fail(kName, "a profile named '" + options.name + "' exists already");
    }
  }
  const auto profile = store->createUntitledProfile(&error);
  if (!profile) return fail(kName, error);
  std::string name = profile->string("profile");
  if (!options.name.empty()) {
    // Made under a free name first, then named, so that two tools never share a file.
    if (!store->renameProfile(name, options.name, &error)) {
      store->deleteProfileWithName(name);
      return fail(kName, error);
    }
    name = options.name;
  }
  std::cout << name << "  " << store->pathForProfile(name).string() << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Makes a new profile from the device's seed profile and saves it as NAME, or as\n"
      "Untitled<n> (the smallest free number) without NAME. Prints its name and file.\n");
  command.add_option("NAME", options->name, "the new profile's name");
  addDeviceOptions(command, options->device);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "make a new profile from the seed", define);

}  // namespace
}  // namespace kinetra
