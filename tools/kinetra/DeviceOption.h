// The device a profile subcommand works on, and its profile store, opened on the same
// folders the agent uses. Every such subcommand takes:
//
//   --device ALIAS   the device with that "Alias" (needed when several are installed)
//   --bundle PATH    look for devices in this bundle, or folder of bundles, instead of
//                    the installed ones (<data root>/MainstreamDevices and .../Devices)
#pragma once

#include <memory>
#include <string>

#include "device/DeviceController.h"
#include "store/ZVProfileStore.h"

namespace CLI {
class App;
}

namespace kinetra {

struct DeviceOptions {
  std::string alias;
  std::string bundle;
};

// Adds --device and --bundle to `command`, filling `options`.
void addDeviceOptions(CLI::App& command, DeviceOptions& options);

// The chosen device with its profile store open (as the editor opens it: not the
// executive), the profile prototype loaded. Null, with `error` saying what to do, when
// no device or several match, or no prototype can be found.
std::shared_ptr<zv::device::DeviceController> openDevice(const DeviceOptions& options,
                                                         std::string& error);
std::shared_ptr<zv::store::ZVProfileStore> storeOf(const zv::device::DeviceController& device);

}  // namespace kinetra
