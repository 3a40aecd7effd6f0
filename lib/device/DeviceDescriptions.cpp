#include "device/DeviceDescriptions.h"

namespace zv::device {

void CopyDeviceSettingFromRoot(std::string_view key, json::Dictionary& description,
                               const json::Dictionary& root) {
  if (description.contains(key)) return;
  if (const json::Value* value = root.find(key)) description.set(key, value->deepCopy());
}

std::vector<json::DictionaryPtr> deviceDescriptions(const support::Bundle& bundle) {
  const json::DictionaryPtr root = bundle.infoDictionary();
  if (!root) return {};
  return deviceDescriptions(*root);
}

std::vector<json::DictionaryPtr> deviceDescriptions(const json::Dictionary& root) {
  std::vector<json::DictionaryPtr> result;
  const json::Value* devices = root.find("Devices");
  if (!devices || !devices->isDictionary()) return result;
  for (const auto& [key, value] : *devices->asDictionary()) {
    if (!value.isDictionary()) continue;
    json::DictionaryPtr description = value.deepCopy().asDictionary();
    for (std::string_view defaultKey : kRootDefaults) {
      CopyDeviceSettingFromRoot(defaultKey, *description, root);
    }
    result.push_back(std::move(description));
  }
  return result;
}

}  // namespace zv::device
