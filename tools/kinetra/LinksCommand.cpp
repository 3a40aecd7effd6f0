// kinetra links [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

constexpr const char* kName = "links";

int run(const DeviceOptions& options) {
  std::string error;
  const auto device = openDevice(options, error);
  if (!device) return fail(kName, error);
  const auto store = storeOf(*device);
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  for (const auto& [key, value] : *switcher->appMappings()) {
    if (!value.isString()) continue;
    std::cout << key << "  " << value.asString()
              << (store->profileExistsWithName(value.asString()) ? "" : "  (no such profile)")
              << "\n";
  }
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<DeviceOptions>();
  command.footer(
      "Lists each linked application's key and its profile. A profile that no longer\n"
      "exists is marked; its link is dropped when the application next has the focus.\n");
  addDeviceOptions(command, *options);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "list the application links", define);

}  // namespace
}  // namespace kinetra
