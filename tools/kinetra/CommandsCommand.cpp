// kinetra commands [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "store/ZVCommandStore.h"

namespace kinetra {
namespace {

constexpr const char* kName = "commands";

int run(const DeviceOptions& options) {
  std::string error;
  const auto device = openDevice(options, error);
  if (!device) return fail(kName, error);
  const auto store = zv::store::ZVCommandStore::create(device->bundle().bundlePath().parent_path());
  const std::string xml = store ? store->commandXML() : std::string();
  if (xml.empty()) return fail(kName, "the device bundles ship no commands");
  std::cout << xml;
  if (!xml.ends_with('\n')) std::cout << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<DeviceOptions>();
  command.footer(
      "Prints the library of ready-made commands the editor offers: the XML command files\n"
      "of the device bundles installed beside the device's own bundle, one after another.\n");
  addDeviceOptions(command, *options);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "print the library of ready-made commands", define);

}  // namespace
}  // namespace kinetra
