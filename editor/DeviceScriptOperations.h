// The device operations the editor's page script may call on the "device" object, under
// their script names ("GetBatteryLevel" runs batteryLevel). Only these are visible to
// the page; every other operation of the device controller is hidden from it.
//
// Threads: the main thread.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "json/Value.h"

namespace zv::device {
class DeviceController;
}

namespace zv::editor {

// One operation the page script may call, under its script name.
struct DeviceScriptOperation {
  std::string_view scriptName;  // "GetBatteryLevel"
  std::string_view operation;   // "batteryLevel"
  int arguments;                // how many the script passes
};

std::span<const DeviceScriptOperation> deviceScriptOperations();

// Runs the operation of `scriptName` on `device` with the script's arguments and answers
// its result (null for operations without one). Nothing when the name is not in the
// table, the operation does not exist on the controller ("GetBatteryLifeYears": the base
// controller has no batteryLifeYears) or too few arguments are given: the script call
// fails.
std::optional<json::Value> callDeviceScriptOperation(device::DeviceController& device,
                                                     std::string_view scriptName,
                                                     std::span<const json::Value> arguments);

}  // namespace zv::editor
