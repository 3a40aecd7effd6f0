#include "device/DeviceSettings.h"

#include "device/DeviceIdentity.h"
#include "device/ProfileStoreFactory.h"

namespace zv::device {

std::int32_t DeviceSettings::get(const std::shared_ptr<ProfileStoreInterface>& store,
                                 std::string_view key) {
  if (!store) return 0;
  const json::DictionaryPtr settings = profileStoreFactory()->settings(*store);
  const json::Value* value = settings ? settings->find(key) : nullptr;
  return value && value->isNumber() ? static_cast<std::int32_t>(integerOf(value)) : 0;
}

void DeviceSettings::set(const std::shared_ptr<ProfileStoreInterface>& store, std::string_view key,
                         std::int32_t value) {
  if (!store) return;
  const std::shared_ptr<ProfileStoreFactory> factory = profileStoreFactory();
  const json::DictionaryPtr settings = factory->settings(*store);
  if (!settings) return;
  settings->set(key, json::Value(value));
  factory->writeSettings(*store);
}

}  // namespace zv::device
