// kinetra new [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "engine/ZVProfile.h"

namespace kinetra {
namespace {

constexpr const char* kName = "new";

int run(const DeviceOptions& options) {
  std::string error;
  const auto device = openDevice(options, error);
  if (!device) return fail(kName, error);
  const auto profile = storeOf(*device)->createUntitledProfile(&error);
  if (!profile) return fail(kName, error);
  std::cout << profile->string("profile") << "  " << profile->path()->string() << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<DeviceOptions>();
  command.footer(
      "Makes a new profile from the device's seed profile and saves it as Untitled<n> (the\n"
      "smallest free number). Prints its name and file.\n");
  addDeviceOptions(command, *options);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "make a new profile from the seed", define);

}  // namespace
}  // namespace kinetra
