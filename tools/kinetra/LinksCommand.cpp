// kinetra links [--reset] [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

constexpr const char* kName = "links";

struct Options {
  DeviceOptions device;
  bool reset = false;
};

int reset(zv::store::ZVProfileSwitcher& switcher) {
  if (switcher.damage().empty()) {
    std::cout << switcher.configPath().string() << " reads well; nothing to reset\n";
    return 0;
  }
  const auto copy = switcher.resetConfig();
  if (!copy) return fail(kName, copy.failure().message);
  std::cout << "the links start afresh; the damaged file is kept as " << copy->string() << "\n";
  return 0;
}

int run(const Options& options) {
  std::string error;
  const auto device = openDevice(options.device, error);
  if (!device) return fail(kName, error);
  const auto store = storeOf(*device);
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (options.reset) return reset(*switcher);
  if (!switcher->damage().empty()) {
    return fail(kName, switcher->damage() +
                           "\nNo link is written until the file is repaired, or started afresh "
                           "with 'kinetra links --reset' (the damaged file is kept beside it).");
  }
  int links = 0;
  for (const auto& [key, value] : *switcher->appMappings()) {
    if (!value.isString()) continue;
    ++links;
    std::cout << key << "  " << value.asString()
              << (store->profileExistsWithName(value.asString()) ? "" : "  (no such profile)")
              << "\n";
  }
  if (links == 0) std::cout << "no application is linked to a profile (see kinetra link)\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Lists each linked application's key and its profile. A profile that no longer\n"
      "exists is marked; its link is dropped when the application next has the focus.\n"
      "A links file that cannot be read is reported (exit status 1) and left alone;\n"
      "--reset starts it afresh and keeps the damaged one as mappings.xml.damaged-DATE.\n");
  command.add_flag("--reset", options->reset,
                   "start a damaged links file afresh, keeping a copy of it");
  addDeviceOptions(command, options->device);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "list the application links", define);

}  // namespace
}  // namespace kinetra
