#include "DeviceSession.h"

#include <CLI/CLI.hpp>
#include <filesystem>

#include "Report.h"
#include "device/DeviceController.h"
#include "device/DriverSets.h"
#include "device/SimulatedHidManager.h"
#include "platform/RunLoop.h"

namespace kinetra {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

void addSessionOptions(CLI::App& command, SessionOptions& options, long long defaultWaitMs) {
  options.waitMs = defaultWaitMs;
  command
      .add_option("--bundles", options.bundles,
                  "scan the device bundles below DIR (default: the installed device bundles)")
      ->type_name("DIR");
  command.add_flag("--simulated", options.simulated,
                   "find the simulated mice of running `zenvor-driver --simulate` daemons\n"
                   "instead of hidraw devices");
  command
      .add_option("--wait", options.waitMs,
                  "wait at most MS milliseconds for devices to connect (default " +
                      std::to_string(defaultWaitMs) + ")")
      ->check(CLI::Range(0LL, 3'600'000LL))
      ->type_name("MS");
}

void prepareDeviceSession(const std::string& command, const SessionOptions& options, int attempts) {
  zv::device::DriverTiming timing;
  timing.matchDelay = 0ms;
  timing.retryInterval = 200ms;
  timing.connectAttempts = attempts;
  zv::device::DriverInterface::setTiming(timing);
  if (options.simulated) zv::device::installSimulatedHidManager();
  zv::device::ZVDeviceManager::sharedDeviceManager().setProblemHandler(
      [command](const std::string& message) { warn(command, message); });
}

std::optional<zv::device::ControllerList> scanDevices(const std::string& command,
                                                      const SessionOptions& options,
                                                      const zv::json::DictionaryPtr& criteria) {
  auto& manager = zv::device::ZVDeviceManager::sharedDeviceManager();
  const fs::path folder = options.bundles.empty()
                              ? zv::device::ZVDeviceManager::deviceBundleDirectory()
                              : fs::path(options.bundles);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    fail(command, folder.string() + ": no such folder of device bundles");
    return std::nullopt;
  }
  zv::device::ControllerList controllers = manager.scanFolder(folder, criteria);
  zv::device::startMatching();
  return controllers;
}

void waitForConnections(const zv::device::ControllerList& controllers,
                        std::chrono::milliseconds wait) {
  const auto settled = [&] {
    for (const auto& controller : controllers) {
      for (const auto& interface : controller->driverInterfaces()) {
        const auto* set =
            zv::device::findRegisteredDeviceByVidPid(interface->vendorId(), interface->productId());
        if (!set || !set->device) continue;
        // Connected and told its controller, or failed to reach the daemon.
        if (interface->connected() ? !controller->connected() : interface->lastFailure().empty()) {
          return false;
        }
      }
    }
    return true;
  };
  // Devices present are reported from the loop: let it run once before judging.
  zv::platform::RunLoop::main().dispatchPending();
  zv::platform::RunLoop::main().runUntil(settled, wait);
}

std::string hexElement(std::uint32_t element) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", element);
  return text;
}

}  // namespace kinetra
