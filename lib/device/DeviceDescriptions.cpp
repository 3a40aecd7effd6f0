#include "device/DeviceDescriptions.h"

#include "device/AdoptedDescriptions.h"

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
  static const json::Dictionary none;
  for (const auto& [key, value] :
       devices && devices->isDictionary() ? *devices->asDictionary() : none) {
    if (!value.isDictionary()) continue;
    json::DictionaryPtr description = value.deepCopy().asDictionary();
    for (std::string_view defaultKey : kRootDefaults) {
      CopyDeviceSettingFromRoot(defaultKey, *description, root);
    }
    result.push_back(std::move(description));
  }
  if (const json::Value* adopted = root.find("AdoptedMice");
      adopted && adopted->isBoolean() && adopted->asBoolean()) {
    for (json::DictionaryPtr& description : adoptedDescriptions()) {
      for (std::string_view defaultKey : kRootDefaults) {
        CopyDeviceSettingFromRoot(defaultKey, *description, root);
      }
      result.push_back(std::move(description));
    }
  }
  return result;
}

}  // namespace zv::device
