#include "DeviceScriptOperations.h"

#include <algorithm>

#include "device/DeviceController.h"
#include "device/DeviceIdentity.h"

namespace zv::editor {
namespace {

constexpr DeviceScriptOperation kOperations[] = {
    {"OverrideElement", "JS_OverrideElement:enabled:", 2},
    {"GetBundleVersion", "JS_GetVersion", 0},
    {"GetName", "JS_GetName", 0},
    {"GetPID", "productId", 0},
    {"GetVID", "vendorId", 0},
    {"connected", "connected", 0},
    {"GetBatteryLevel", "batteryLevel", 0},
    {"GetBatteryState", "batteryState", 0},
    {"GetBatteryLifeYears", "batteryLifeYears", 0},
    {"controlDescriptionJSON", "controlDescriptionJSON", 0},
    {"GetBrand", "brand", 0},
    {"GetAlias", "alias", 0},
    {"GetBalias", "balias", 0},
    {"GetType", "typeId", 0},
    {"WriteSettings", "writeSettings", 0},
    {"GetSetting", "getSetting:", 1},
    {"SetSetting", "setSetting:value:", 2},
};

}  // namespace

std::span<const DeviceScriptOperation> deviceScriptOperations() {
  return kOperations;
}

std::optional<json::Value> callDeviceScriptOperation(device::DeviceController& device,
                                                     std::string_view scriptName,
                                                     std::span<const json::Value> arguments) {
  const auto found = std::find_if(std::begin(kOperations), std::end(kOperations),
                                  [&](const auto& o) { return o.scriptName == scriptName; });
  if (found == std::end(kOperations) || arguments.size() < std::size_t(found->arguments)) {
    return std::nullopt;
  }
  const auto number = [&](std::size_t i) { return device::integerOf(&arguments[i]); };
  const auto string = [&](std::size_t i) {
    return arguments[i].isString() ? arguments[i].asString() : std::string();
  };
  const std::string_view name = found->scriptName;
  if (name == "OverrideElement") {
    device.JS_OverrideElement(static_cast<std::uint32_t>(number(0)), number(1) != 0);
    return json::Value();
  }
  if (name == "GetBundleVersion") return json::Value(device.JS_GetVersion());
  if (name == "GetName") return json::Value(device.JS_GetName());
  if (name == "GetPID") return json::Value(device.productId());
  if (name == "GetVID") return json::Value(device.vendorId());
  if (name == "connected") return json::Value::boolean(device.connected());
  if (name == "GetBatteryLevel") return json::Value(unsigned{device.batteryLevel()});
  if (name == "GetBatteryState") return json::Value(device.batteryState());
  if (name == "controlDescriptionJSON") {
    const auto text = device.controlDescriptionJSON();
    return text ? json::Value(*text) : json::Value();
  }
  if (name == "GetBrand") return json::Value(device.brand());
  if (name == "GetAlias") return json::Value(device.alias());
  if (name == "GetBalias") return json::Value(device.balias());
  if (name == "GetType") return json::Value(unsigned{device.typeId()});
  if (name == "WriteSettings") {
    device.writeSettings();
    return json::Value();
  }
  if (name == "GetSetting") return json::Value(device.getSetting(string(0)));
  if (name == "SetSetting") {
    device.setSetting(string(0), static_cast<std::int32_t>(number(1)));
    return json::Value();
  }
  return std::nullopt;
}

}  // namespace zv::editor
