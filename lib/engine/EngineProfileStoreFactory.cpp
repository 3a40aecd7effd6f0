#include "engine/EngineProfileStoreFactory.h"

#include "engine/ZVProfile.h"

namespace zv::engine {

void EngineProfileStoreFactory::reactivateCurrentProfile(device::ProfileStoreInterface& store) {
  if (const auto current = store.currentProfile()) {
    current->deactivate();
    current->updateActiveShiftState();
  }
}

void EngineProfileStoreFactory::deactivateCurrentProfile(device::ProfileStoreInterface& store) {
  if (const auto current = store.currentProfile()) current->deactivate();
}

profile::ObjectPtr EngineProfileStoreFactory::loadSeedProfile(
    const std::shared_ptr<device::DeviceController>& device, device::ProfileStoreInterface&) {
  auto seed = ZVProfile::defaultProfileForDevice(device);
  return seed && seed->JSONDictionary() ? seed : nullptr;
}

}  // namespace zv::engine
