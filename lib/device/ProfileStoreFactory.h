// How a device controller obtains and prepares its profile store, reads the store's
// settings, and has the store's profiles follow the device. The device layer runs no
// profiles itself: the program installs a factory (setProfileStoreFactory) from a layer
// that does — the per-device store of profile files brings its own, and
// engine::EngineProfileStoreFactory serves programs that keep profiles in memory.
//
// A controller calls, in this order: storeExists() at initialisation; makeStore() the
// first time a store is needed; createIfMissing() each time one is asked for; on connect
// reactivateCurrentProfile(), on disconnect deactivateCurrentProfile(); loadSeedProfile()
// once, for the controls of the seed profile; settings() and writeSettings() for the
// device settings.
//
// Threads: the main thread.
#pragma once

#include <memory>

#include "device/ProfileStoreInterface.h"
#include "json/Value.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::device {

class DeviceController;

class ProfileStoreFactory {
 public:
  virtual ~ProfileStoreFactory() = default;

  // Whether the device already has a store on disk (its information file exists).
  virtual bool storeExists(const DeviceController& device) = 0;
  // A new store for the device, its information and folder read.
  virtual std::shared_ptr<ProfileStoreInterface> makeStore(
      const std::shared_ptr<DeviceController>& device) = 0;
  // Creates the store on disk when it does not exist yet.
  virtual void createIfMissing(ProfileStoreInterface& store) = 0;
  // The store's "settings" dictionary, shared: changes are the store's. Null when the
  // store keeps none.
  virtual json::DictionaryPtr settings(ProfileStoreInterface& store) = 0;
  // Writes the settings back.
  virtual void writeSettings(ProfileStoreInterface& store) = 0;

  // The device connected: the store's current profile deactivates and chooses its shift
  // state again. Nothing by default.
  virtual void reactivateCurrentProfile(ProfileStoreInterface& /*store*/) {}
  // The device disconnected: the store's current profile deactivates. Nothing by default.
  virtual void deactivateCurrentProfile(ProfileStoreInterface& /*store*/) {}
  // The store's seed profile, loaded for the device (its root object: the controllers
  // are its "controllers" children); null when it cannot be loaded. Null by default.
  virtual profile::ObjectPtr loadSeedProfile(const std::shared_ptr<DeviceController>& /*device*/,
                                             ProfileStoreInterface& /*store*/) {
    return nullptr;
  }
};

// A store of the device's seed ("SeedProfile" in the bundle's resources) and profile
// folder ("<user data>/<ProfilePath>") that keeps its settings in memory; no store exists
// on disk. The factory in force until a program sets another.
class MemoryProfileStoreFactory : public ProfileStoreFactory {
 public:
  bool storeExists(const DeviceController& device) override;
  std::shared_ptr<ProfileStoreInterface> makeStore(
      const std::shared_ptr<DeviceController>& device) override;
  void createIfMissing(ProfileStoreInterface& store) override;
  json::DictionaryPtr settings(ProfileStoreInterface& store) override;
  void writeSettings(ProfileStoreInterface& store) override;
};

// The factory in force; never null.
std::shared_ptr<ProfileStoreFactory> profileStoreFactory();
// Answers the factory set before; null restores a MemoryProfileStoreFactory.
std::shared_ptr<ProfileStoreFactory> setProfileStoreFactory(
    std::shared_ptr<ProfileStoreFactory> factory);

}  // namespace zv::device
