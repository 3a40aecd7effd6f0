#include "ProfileChoice.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"

namespace kinetra {

namespace {

struct Options {
  DeviceOptions device;
  std::string name;
  bool none = false;
};

int run(const ProfileChoice& choice, const Options& options, const CLI::App& command) {
  if (options.none == !options.name.empty()) {
    return usageError(command, "give one profile NAME or --none");
  }
  std::string error;
  const auto device = openDevice(options.device, error);
  if (!device) return fail(choice.command, error);
  const auto store = storeOf(*device);
  if (options.none) {
    std::cout << choice.chooseNone(*store) << "\n";
    return 0;
  }
  if (!store->profileExistsWithName(options.name)) {
    return fail(choice.command, "no profile named '" + options.name + "' (see kinetra profiles)");
  }
  std::cout << choice.choose(*store, options.name) << "\n";
  return 0;
}

}  // namespace

void defineProfileChoice(CLI::App& command, ProfileChoice choice) {
  auto options = std::make_shared<Options>();
  command.footer(choice.footer);
  command.add_option("NAME", options->name, "the profile");
  command.add_flag("--none", options->none, choice.noneHelp);
  addDeviceOptions(command, options->device);
  setAction(command, [choice = std::move(choice), options, &command] {
    return run(choice, *options, command);
  });
}

}  // namespace kinetra
