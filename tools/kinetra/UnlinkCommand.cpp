// kinetra unlink APP [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "ApplicationOption.h"
#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

constexpr const char* kName = "unlink";

struct Options {
  DeviceOptions device;
  std::string application;
};

int run(const Options& options) {
  std::string error;
  const std::string key = applicationKeyFor(options.application, error);
  if (key.empty()) return fail(kName, error);
  const auto device = openDevice(options.device, error);
  if (!device) return fail(kName, error);
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (!switcher->profileForKey(key)) return fail(kName, key + " has no link");
  if (!switcher->unsetProfile("", key, &error)) return fail(kName, error);
  std::cout << "unlinked " << key << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer("APP is named as for kinetra link.\n");
  command.add_option("APP", options->application, "the application")->required();
  addDeviceOptions(command, options->device);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "remove an application's link", define);

}  // namespace
}  // namespace kinetra
