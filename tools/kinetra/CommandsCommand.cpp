// kinetra commands [--device ALIAS] [--bundle PATH]
#include <iostream>

#include "DeviceOption.h"
#include "store/ZVCommandStore.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra commands [--device ALIAS] [--bundle PATH]\n\n"
    "Prints the library of ready-made commands the editor offers: the XML command files\n"
    "of the device bundles installed beside the device's own bundle, one after another.\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("commands", error);
  if (!args.empty()) return usageError(*findCommand("commands"), "unexpected '" + args[0] + "'");
  const auto device = openDevice(options, error);
  if (!device) return failWith("commands", error);
  const auto store = zv::store::ZVCommandStore::create(device->bundle().bundlePath().parent_path());
  const std::string xml = store ? store->commandXML() : std::string();
  if (xml.empty()) return failWith("commands", "the device bundles ship no commands");
  std::cout << xml;
  if (!xml.ends_with('\n')) std::cout << "\n";
  return 0;
}

const CommandRegistration registration("commands", "print the library of ready-made commands",
                                       kUsage, run);

}  // namespace
}  // namespace kinetra
