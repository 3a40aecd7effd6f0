// kinetra events [--device ALIAS] [--override ELEMENTS] [--count N] [--bundles DIR]
//                [--simulated] [--wait MS]
//
// Connects to a device the way the agent does and prints its element events as a profile
// receives them: in profile numbering, axes as percentages, only when a value changes.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>

#include "Command.h"
#include "DeviceSession.h"
#include "PrototypeOption.h"
#include "Report.h"
#include "device/DeviceController.h"
#include "device/ProfileStoreFactory.h"
#include "engine/EngineProfileStoreFactory.h"
#include "engine/ZVProfile.h"
#include "platform/RunLoop.h"
#include "profile/ZVPrototypedObject.h"
#include "store/DeviceSession.h"
#include "text/Numbers.h"

namespace kinetra {
namespace {

using zv::platform::RunLoop;
constexpr const char* kName = "events";

struct Options {
  SessionOptions devices;
  std::string device;
  std::string overrides;
  long long count = 0;
  std::string prototype;
};

// Prints each element event as the device session hands it on, and the disconnects.
class EventPrinter : public zv::device::DeviceControllerDelegate,
                     public zv::store::DeviceSessionObserver {
 public:
  // Counts events towards `count` (0: no end) once counting() is set.
  explicit EventPrinter(long long count) : left_(count) {}
  void elementEvent(std::uint32_t element, std::int32_t value, bool) override {
    std::cout << "event " << hexElement(element) << " " << value << std::endl;
    if (counting && left_ > 0 && --left_ == 0) RunLoop::main().stop();
  }
  bool counting = false;
  void deviceConnected(zv::device::DeviceController&, bool connected) override {
    if (!connected) std::cout << "disconnected; waiting for the device" << std::endl;
  }

 private:
  long long left_;
};

// "0x90003-0x90005 0x90009": runs of consecutive elements as ranges.
std::string ranges(std::vector<std::uint32_t> elements) {
  std::sort(elements.begin(), elements.end());
  std::string text;
  for (std::size_t i = 0; i < elements.size();) {
    std::size_t j = i;
    while (j + 1 < elements.size() && elements[j + 1] == elements[j] + 1) ++j;
    text += (text.empty() ? "" : " ") + hexElement(elements[i]);
    if (j > i) text += "-" + hexElement(elements[j]);
    i = j + 1;
  }
  return text;
}

// The elements given with --override: numbers separated by commas, "none" for none;
// nothing given means the default (see defaultElements).
std::optional<std::vector<std::uint32_t>> parseOverrides(const std::string& text,
                                                         std::string& error) {
  std::vector<std::uint32_t> elements;
  if (text == "none" || text.empty()) return elements;
  std::stringstream list(text);
  for (std::string item; std::getline(list, item, ',');) {
    std::uint32_t element = 0;
    if (!zv::text::parseWholeNumber(item, element)) {
      error = "--override takes element identifiers separated by commas (0x90004,0x90005), not '" +
              item + "'";
      return std::nullopt;
    }
    elements.push_back(element);
  }
  return elements;
}

// The seed profile's buttons but the left and right button, which the user still needs
// to point and click.
std::vector<std::uint32_t> defaultElements(zv::device::DeviceController& device) {
  std::vector<std::uint32_t> elements;
  for (const auto& button : device.buttons()) {
    const zv::json::Value value = button->tevNodeValue();
    if (!value.isNumber()) continue;
    const auto element = static_cast<std::uint32_t>(value.asNumber());
    if (element != 0x90001 && element != 0x90002) elements.push_back(element);
  }
  return elements;
}

int run(const CLI::App& self, const Options& options) {
  std::string error;
  auto elements = parseOverrides(options.overrides, error);
  if (!elements) return usageError(self, error);
  auto prototype = loadPrototypeOption(options.prototype, error);
  if (!prototype) return fail(kName, error);
  zv::engine::ZVProfile::setSharedPrototype(prototype);
  zv::device::setProfileStoreFactory(std::make_shared<zv::engine::EngineProfileStoreFactory>());
  const int attempts = static_cast<int>(std::max<long long>(1, options.devices.waitMs / 200));
  prepareDeviceSession(kName, options.devices, attempts);
  // Ctrl-C and SIGTERM end the session through the loop, so the overrides are handed back.
  bool interrupted = false;
  RunLoop::main().watchSignals({SIGINT, SIGTERM}, [&](int) {
    interrupted = true;
    RunLoop::main().stop();
  });

  auto criteria = zv::json::makeDictionary();
  if (!options.device.empty()) criteria->set("Alias", zv::json::Value(options.device));
  const auto controllers = scanDevices(kName, options.devices, criteria);
  if (!controllers) return 1;
  const auto found = std::find_if(controllers->begin(), controllers->end(),
                                  [](const auto& c) { return !c->driverInterfaces().empty(); });
  if (found == controllers->end()) {
    return fail(kName, options.device.empty()
                           ? "no device description with a driver interface found"
                           : "no device with the alias '" + options.device + "' found");
  }
  const std::shared_ptr<zv::device::DeviceController> device = *found;
  auto printer = std::make_shared<EventPrinter>(options.count);
  // The events take the agent's road; the store of this process has no current profile,
  // so they end at the printer.
  const auto session = std::make_shared<zv::store::DeviceSession>(device);
  session->setObserver(printer);
  session->attach(printer);

  if (!RunLoop::main().runUntil([&] { return device->connected() || interrupted; },
                                std::chrono::milliseconds(options.devices.waitMs))) {
    std::string why;
    for (const auto& interface : device->driverInterfaces()) {
      if (!interface->lastFailure().empty()) why = ": " + interface->lastFailure();
    }
    return fail(kName, device->udid() + " (" + device->name() + ") did not connect within " +
                           std::to_string(options.devices.waitMs) + " ms" +
                           (why.empty() ? "; is the mouse plugged in?" : why));
  }
  if (interrupted) return 1;

  if (options.overrides.empty()) elements = defaultElements(*device);
  const auto driver = device->driverInterface();
  for (std::uint32_t element : *elements) driver->overrideElement(element, true);
  // The driver answers each override with the element's current value; those first values
  // come before the listening line and do not count.
  RunLoop::main().dispatchPending();
  RunLoop::main().dispatchPending();
  printer->counting = true;
  std::cout << "listening to " << device->udid() << " (" << device->name() << ")";
  if (!elements->empty()) {
    std::cout << "; " << ranges(*elements) << " report here instead of the desktop";
  }
  std::cout << "; Ctrl-C ends" << std::endl;

  RunLoop::main().run();
  for (std::uint32_t element : *elements) driver->overrideElement(element, false);
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Connects to a device of the device bundles as the agent does and prints each element\n"
      "event as a profile receives it: `event ELEMENT VALUE`, the element in profile\n"
      "numbering (after the bundle's ElementRemapping), buttons 1 or 0, the X, Y and Z axes\n"
      "as a percentage of their range, and only when a value changes.\n\n"
      "Only elements the driver has been told to override report events, and while they\n"
      "are overridden they no longer reach the desktop: by default every button of the\n"
      "device's seed profile except the left and right button. They are handed back when the\n"
      "command ends (Ctrl-C, SIGTERM or --count).\n");
  addSessionOptions(command, options->devices, 5000);
  command
      .add_option("--device", options->device,
                  "the device whose \"Alias\" is ALIAS (default: the first one found)")
      ->type_name("ALIAS");
  command
      .add_option("--override", options->overrides,
                  "the elements to take over, separated by commas, or none")
      ->type_name("ELEMENTS");
  command.add_option("--count", options->count, "end after N events")
      ->check(CLI::Range(1LL, 1'000'000'000LL))
      ->type_name("N");
  command
      .add_option("--prototype", options->prototype,
                  "the profile prototype (default: Kinetra.app's tevnodes.prototype)")
      ->type_name("P");
  CLI::App* self = &command;
  setAction(command, [self, options] { return run(*self, *options); });
}

const CommandRegistration registration(kName,
                                       "print a device's element events as profiles get them",
                                       define);

}  // namespace
}  // namespace kinetra
