// kinetra startup NAME|--none [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"

namespace kinetra {
namespace {

constexpr const char* kName = "startup";

struct Options {
  DeviceOptions device;
  std::string name;
  bool none = false;
};

int run(const Options& options, const CLI::App& command) {
  if (options.none == !options.name.empty()) {
    return usageError(command, "give one profile NAME or --none");
  }
  std::string error;
  const auto device = openDevice(options.device, error);
  if (!device) return fail(kName, error);
  const auto store = storeOf(*device);
  if (options.none) {
    store->setStartupProfileByName("");
    std::cout << "no start-up profile\n";
    return 0;
  }
  if (!store->profileExistsWithName(options.name)) {
    return fail(kName, "no profile named '" + options.name + "' (see kinetra profiles)");
  }
  store->setStartupProfileByName(options.name);
  std::cout << "start-up profile: " << options.name << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Chooses the profile the agent makes current when it starts; --none chooses none\n"
      "(the agent then starts with the default profile).\n");
  command.add_option("NAME", options->name, "the profile");
  command.add_flag("--none", options->none, "no start-up profile");
  addDeviceOptions(command, options->device);
  setAction(command, [options, &command] { return run(*options, command); });
}

const CommandRegistration registration(kName, "choose the profile the agent starts with", define);

}  // namespace
}  // namespace kinetra
