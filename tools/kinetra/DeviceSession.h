// Finding devices the way the agent does, for the subcommands that show or use them
// (`kinetra devices`, `kinetra events`): the bundle scan, HID matching and the connection
// to the driver daemon, on the main run loop.
#pragma once

#include <chrono>
#include <string>

#include "device/DriverInterface.h"
#include "device/ZVDeviceManager.h"
#include "json/Value.h"

namespace CLI {
class App;
}

namespace kinetra {

struct SessionOptions {
  std::string bundles;  // empty: the device bundle folder
  bool simulated = false;
  long long waitMs = 2000;
};

// --bundles DIR, --simulated, --wait MS.
void addSessionOptions(CLI::App& command, SessionOptions& options, long long defaultWaitMs);

// Sets the process up for `command`: connect waits fit for a tool (the daemon is already
// running, so no matching delay; `attempts` tries to reach it), the simulated mice of
// running daemons when asked, bundle problems printed as warnings.
void prepareDeviceSession(const std::string& command, const SessionOptions& options, int attempts);

// The controllers of the descriptions that match `criteria`, from the chosen folder;
// matching has started. Nothing, after printing why, when the folder does not exist.
std::optional<zv::device::ControllerList> scanDevices(const std::string& command,
                                                      const SessionOptions& options,
                                                      const zv::json::DictionaryPtr& criteria);

// Runs the main loop until each driver interface of the controllers whose device is present
// has connected or failed to, at most `wait`.
void waitForConnections(const zv::device::ControllerList& controllers,
                        std::chrono::milliseconds wait);

// "0x90004".
std::string hexElement(std::uint32_t element);

}  // namespace kinetra
