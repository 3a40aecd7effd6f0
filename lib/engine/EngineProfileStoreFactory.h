// The profile-store factory of programs that keep their profiles in memory (the kinetra
// tool, tests): stores as device::MemoryProfileStoreFactory makes them, with the store's
// current ZVProfile deactivated and re-activated as the device disconnects and connects,
// and seed profiles loaded as profiles.
//
//   device::setProfileStoreFactory(std::make_shared<engine::EngineProfileStoreFactory>());
//
// Threads: the main thread.
#pragma once

#include "device/ProfileStoreFactory.h"

namespace zv::engine {

class EngineProfileStoreFactory : public device::MemoryProfileStoreFactory {
 public:
  void reactivateCurrentProfile(device::ProfileStoreInterface& store) override;
  void deactivateCurrentProfile(device::ProfileStoreInterface& store) override;
  profile::ObjectPtr loadSeedProfile(const std::shared_ptr<device::DeviceController>& device,
                                     device::ProfileStoreInterface& store) override;
};

}  // namespace zv::engine
