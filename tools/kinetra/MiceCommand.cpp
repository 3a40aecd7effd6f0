// kinetra mice
//
// Lists the mice plugged in (hidraw nodes with a Mouse or Pointer collection), what their
// report descriptors say they have, whether the suite serves them and whether a driver
// runs for them, and the adopted mice that are not plugged in.
#include <CLI/CLI.hpp>
#include <iostream>
#include <set>

#include "Command.h"
#include "device/AdoptedMice.h"
#include "device/PresentMice.h"
#include "platform/HidSysfs.h"
#include "platform/Paths.h"

namespace kinetra {
namespace {

constexpr const char* kName = "mice";

std::string stateOf(const zv::device::PresentMouse& mouse) {
  std::string state;
  if (mouse.automatic) {
    state = "one of the suite's own mice, served without adoption";
  } else if (mouse.adopted) {
    state = "adopted";
  } else {
    return "not adopted: kinetra adopt " + mouse.identifier();
  }
  return state + (mouse.driverRunning ? "; its driver runs" : "; no driver runs for it");
}

int run() {
  std::vector<std::string> problems;
  const auto adopted = zv::device::adoptedMice(zv::platform::udevRulesFolder(), &problems);
  for (const std::string& problem : problems)
    std::cerr << "kinetra mice: warning: " << problem << "\n";
  const auto present = zv::device::presentMice(zv::platform::sysfsRoot(), adopted);
  std::set<std::pair<std::uint16_t, std::uint16_t>> plugged;
  for (const auto& mouse : present) {
    plugged.insert({mouse.vendor(), mouse.product()});
    std::cout << mouse.identifier() << "  " << mouse.name() << " ("
              << zv::platform::transportName(mouse.node.id.bus) << ", " << mouse.node.name
              << ")\n  " << mouse.capabilities.summary() << "\n  " << stateOf(mouse) << "\n";
  }
  for (const auto& record : adopted) {
    if (plugged.count({record.vendor, record.product})) continue;
    const auto capabilities = zv::device::mouseCapabilities(record.descriptor);
    std::cout << zv::device::mouseIdentifier(record.vendor, record.product) << "  "
              << (record.name.empty() ? "mouse" : record.name) << " ("
              << zv::platform::transportName(record.bus) << ", not plugged in)\n  "
              << (capabilities ? capabilities->summary() : std::string("buttons unknown"))
              << "\n  adopted\n";
  }
  if (present.empty() && adopted.empty()) {
    std::cout << "no mouse found (looked at the hidraw nodes in "
              << (zv::platform::sysfsRoot() / "class" / "hidraw").string() << ")\n";
  }
  return 0;
}

void define(CLI::App& command) {
  command.footer(
      "A mouse is a hidraw node whose report descriptor has a Mouse or Pointer collection;\n"
      "the buttons, wheel and pan are those the descriptor declares. The suite's own mice\n"
      "are served as they are plugged in; any other mouse once adopted (kinetra adopt\n"
      "VVVV:PPPP). \"its driver runs\" means a zenvor-driver serves the node. Adopted mice\n"
      "that are not plugged in are listed last. Reading the list needs no special rights.\n");
  setAction(command, [] { return run(); });
}

const CommandRegistration registration(kName,
                                       "the mice plugged in, and which ones the suite serves",
                                       define);

}  // namespace
}  // namespace kinetra
