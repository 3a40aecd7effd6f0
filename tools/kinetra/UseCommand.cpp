// kinetra use NAME|--none [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"

namespace kinetra {
namespace {

constexpr const char* kName = "use";

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
    store->setNoProfile(true);
    std::cout << "no profile is active\n";
    return 0;
  }
  if (!store->profileExistsWithName(options.name)) {
    return fail(kName, "no profile named '" + options.name + "' (see kinetra profiles)");
  }
  store->setCurrentProfileByName(options.name);
  if (store->noProfile()) store->setNoProfile(false);
  std::cout << "current profile: " << store->currentProfileName() << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Makes profile NAME the current one, as choosing it in the agent's menu does; the\n"
      "running agent and editor follow at once. --none turns profiles off (the mouse\n"
      "works as a plain mouse).\n");
  command.add_option("NAME", options->name, "the profile");
  command.add_flag("--none", options->none, "no profile");
  addDeviceOptions(command, options->device);
  setAction(command, [options, &command] { return run(*options, command); });
}

const CommandRegistration registration(kName, "make a profile current", define);

}  // namespace
}  // namespace kinetra
