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
  if (const std::string damage = store->infoDamage(); !damage.empty()) {
    return fail(choice.command, damage +
                                    "\nNothing was changed. Repair the file, or start it "
                                    "afresh with 'kinetra profiles --reset' (the damaged "
                                    "file is kept beside it).");
  }
  if (!options.none && !store->profileExistsWithName(options.name)) {
    return fail(choice.command, "no profile named '" + options.name + "' (see kinetra profiles)");
  }
  const auto line =
      options.none ? choice.chooseNone(*store, error) : choice.choose(*store, options.name, error);
  if (!line) return fail(choice.command, error);
  std::cout << *line << "\n";
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
