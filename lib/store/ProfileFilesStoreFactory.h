// Makes device controllers keep their profiles in the per-device store of profile files
// (ZVProfileStore): the folder and info file that the agent, the editor and the kinetra
// tool share. A program installs it once at start-up, before it scans for devices:
//
//   device::setProfileStoreFactory(std::make_shared<store::ProfileFilesStoreFactory>());
//
// The store's current profile deactivates and chooses its shift state again as the
// device connects, and deactivates as it disconnects (engine::EngineProfileStoreFactory).
//
// Threads: the main thread, like the controllers that call it.
#pragma once

#include "engine/EngineProfileStoreFactory.h"

namespace zv::store {

class ProfileFilesStoreFactory : public engine::EngineProfileStoreFactory {
 public:
  bool storeExists(const device::DeviceController& device) override;
  // profileStoreForDevice(), then its info file and folder read.
  std::shared_ptr<device::ProfileStoreInterface> makeStore(
      const std::shared_ptr<device::DeviceController>& device) override;
  void createIfMissing(device::ProfileStoreInterface& store) override;
  json::DictionaryPtr settings(device::ProfileStoreInterface& store) override;
  void writeSettings(device::ProfileStoreInterface& store) override;
};

}  // namespace zv::store
