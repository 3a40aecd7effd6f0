// kinetra profiles [--reset] [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "store/ZVProfileStore.h"

namespace kinetra {
namespace {

constexpr const char* kName = "profiles";

struct Options {
  DeviceOptions device;
  bool reset = false;
};

int reset(zv::store::ZVProfileStore& store) {
  if (store.infoDamage().empty()) {
    std::cout << store.profileInfoFile().string() << " reads well; nothing to reset\n";
    return 0;
  }
  const auto copy = store.resetInfo();
  if (!copy) return fail(kName, copy.failure().message);
  std::cout << "the store's info file starts afresh (current profile: "
            << store.currentProfileName() << ", no start-up profile, no settings); the damaged "
            << "file is kept as " << copy->string() << "\n";
  return 0;
}

int run(const Options& options) {
  std::string error;
  const auto device = openDevice(options.device, error);
  if (!device) return fail(kName, error);
  const auto store = storeOf(*device);
  if (options.reset) return reset(*store);
  // A damaged info file leaves the current and start-up profiles unknown: nothing is marked.
  const bool known = store->infoDamage().empty();
  const bool none = known && store->noProfile();
  const std::string current = store->currentProfileName();
  const auto startup = store->startupProfilePath();
  std::cout << device->name() << " (" << device->alias() << "), profiles in "
            << store->profilePath().string() << "\n";
  for (const auto& name : store->profileNames()) {
    std::cout << (known && !none && name == current ? "* " : "  ") << name;
    if (name == store->defaultProfileName()) std::cout << "  (default)";
    if (known && startup && !startup->empty() && store->pathForProfile(name) == *startup) {
      std::cout << "  start-up";
    }
    std::cout << "\n";
  }
  if (none) std::cout << "no profile is active\n";
  if (known && startup && startup->empty()) std::cout << "no start-up profile\n";
  if (const std::string damage = store->infoDamage(); !damage.empty()) {
    return fail(kName, damage +
                           "\nThe current and start-up profiles it records are unknown; nothing "
                           "is written to it until it is repaired, or started afresh with "
                           "'kinetra profiles --reset' (the damaged file is kept beside it).");
  }
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Lists the profiles in the order of the agent's menu, the default profile first.\n"
      "'*' marks the current profile, 'start-up' the one the agent starts with. The\n"
      "profiles live in ~/.local/share/Kinetra/<ProfilePath>/. A store info file that\n"
      "cannot be read is reported (exit status 1) and left alone; --reset starts it\n"
      "afresh and keeps the damaged one as .profileStore-….info.damaged-DATE.\n");
  command.add_flag("--reset", options->reset,
                   "start a damaged store info file afresh, keeping a copy of it");
  addDeviceOptions(command, options->device);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "list a device's profiles", define);

}  // namespace
}  // namespace kinetra
