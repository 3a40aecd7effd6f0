// Makes device controllers keep their profiles in the per-device store
// of profile files (store::ZVProfileStore): the folder and info file the agent and the
// tools share. The agent and the editor install it once at start-up
// (device::setProfileStoreFactory).
//
// Threads: the main thread, like the controllers that call it.
#pragma once

#include "engine/EngineProfileStoreFactory.h"

namespace zv::store {

class ProfileFilesStoreFactory : public engine::EngineProfileStoreFactory {
 public:
  bool storeExists(const device::DeviceController& device) override;
  // profileStoreForDevice, then its info and folder read.
  std::shared_ptr<device::ProfileStoreInterface> makeStore(
      const std::shared_ptr<device::DeviceController>& device) override;
  void createIfMissing(device::ProfileStoreInterface& store) override;
  json::DictionaryPtr settings(device::ProfileStoreInterface& store) override;
  void writeSettings(device::ProfileStoreInterface& store) override;
};

}  // namespace zv::store
