// kinetra devices [--bundles DIR] [--match KEY=VALUE]... [--simulated] [--wait MS]
//
// Lists the device bundles, the descriptions that the criteria select, the HID device each
// one's driver interfaces matched and whether they reached the driver daemon.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "Command.h"
#include "DeviceSession.h"
#include "device/DeviceController.h"
#include "device/DriverSets.h"
#include "device/PresentMice.h"
#include "platform/Paths.h"
#include "text/Numbers.h"

namespace kinetra {
namespace {

constexpr const char* kName = "devices";

struct Options {
  SessionOptions devices;
  std::vector<std::string> match;
};

// KEY=VALUE as a criterion: true and false are booleans, whole numbers numbers, anything
// else text (as property lists type the values they are compared with).
bool addCriterion(const std::string& text, zv::json::Dictionary& criteria) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  const std::string key = text.substr(0, equals);
  const std::string value = text.substr(equals + 1);
  long long number = 0;
  if (value == "true" || value == "false") {
    criteria.set(key, zv::json::Value::boolean(value == "true"));
  } else if (zv::text::parseWholeNumber(value, number)) {
    criteria.set(key, zv::json::Value(static_cast<std::int64_t>(number)));
  } else {
    criteria.set(key, zv::json::Value(value));
  }
  return true;
}

std::string hex4(std::int64_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04llx", static_cast<unsigned long long>(value));
  return text;
}

std::string connectionOf(const zv::device::DriverInterface& interface) {
  const auto* set =
      zv::device::findRegisteredDeviceByVidPid(interface.vendorId(), interface.productId());
  if (!set || !set->device) return "no device";
  std::string state = set->device->path();
  if (interface.connected()) return state + ", connected through " + interface.servicePath();
  const std::string failure = interface.lastFailure();
  return state + ", not connected" + (failure.empty() ? std::string() : ": " + failure);
}

int run(const CLI::App& self, const Options& options) {
  auto criteria = zv::json::makeDictionary();
  for (const std::string& text : options.match) {
    if (!addCriterion(text, *criteria)) {
      return usageError(self, "--match takes KEY=VALUE, not '" + text + "'");
    }
  }
  prepareDeviceSession(kName, options.devices, 1);
  const auto controllers = scanDevices(kName, options.devices, criteria);
  if (!controllers) return 1;
  waitForConnections(*controllers, std::chrono::milliseconds(options.devices.waitMs));

  // A mouse plugged in that nothing serves is most likely the one the user looks for.
  const auto sayUnservedMice = [&options] {
    if (options.devices.simulated) return;
    for (const std::string& notice : zv::device::notAdoptedNotices()) std::cout << notice << "\n";
  };
  if (controllers->empty()) {
    std::cout << (options.match.empty() ? "no device descriptions found\n"
                                        : "no device description matches\n");
    sayUnservedMice();
    return 0;
  }
  std::filesystem::path bundle;
  for (const auto& controller : *controllers) {
    if (controller->bundle().bundlePath() != bundle) {
      bundle = controller->bundle().bundlePath();
      std::cout << bundle.filename().string() << "  (" << bundle.string() << ")\n";
    }
    std::cout << "  " << controller->udid() << "  " << controller->name() << "  "
              << hex4(controller->vendorId()) << ":" << hex4(controller->productId())
              << (controller->connected() ? "  connected" : "  not connected") << "\n";
    const auto interfaces = controller->driverInterfaces();
    if (interfaces.empty()) std::cout << "    no driver interface (no product identifier)\n";
    for (const auto& interface : interfaces) {
      std::cout << "    " << interface->driverInterfaceName() << " " << hex4(interface->vendorId())
                << ":" << hex4(interface->productId()) << ": " << connectionOf(*interface) << "\n";
    }
  }
  sayUnservedMice();
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Scans the device bundles as the agent does, matches HID devices and connects to their\n"
      "driver daemons, then prints each selected description (by udid, name and vendor:\n"
      "product), whether its device is connected, and for each of its driver interfaces the\n"
      "service class, the HID device it matched and its connection.\n\n"
      "Each mouse plugged in that the suite does not serve is named last: found mouse\n"
      "VVVV:PPPP (name), not adopted: kinetra adopt VVVV:PPPP.\n\n"
      "--match KEY=VALUE selects descriptions as an application's criteria do: every KEY\n"
      "must equal the description's value, or else the bundle's. true/false are booleans,\n"
      "whole numbers (1, 0x1704) numbers, anything else text.\n");
  addSessionOptions(command, options->devices, 2000);
  command
      .add_option("--match", options->match,
                  "select the descriptions whose KEY equals VALUE (repeatable)")
      ->type_name("KEY=VALUE")
      ->allow_extra_args(false);
  CLI::App* self = &command;
  setAction(command, [self, options] { return run(*self, *options); });
}

const CommandRegistration registration(kName, "device bundles, their descriptions and connections",
                                       define);

}  // namespace
}  // namespace kinetra
