// How a device controller obtains, prepares and reads the settings of its profile store.
// The per-device store of profile files plugs in its own factory at start-up
// (setProfileStoreFactory); until then the default one makes a SimpleProfileStore that
// keeps its settings in memory, which is what tools and tests need.
//
// A controller uses it in this order (createProfileStore): storeExists() at creation;
// makeStore() the first time a store is needed; createIfMissing() every time one is
// asked for; settings() and writeSettings() for the device settings.
//
// Threads: the main thread.
#pragma once

#include <memory>

#include "device/ProfileStoreInterface.h"
#include "json/Value.h"

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
};

// The factory in force; never null.
std::shared_ptr<ProfileStoreFactory> profileStoreFactory();
// Answers the factory set before; null restores the default one.
std::shared_ptr<ProfileStoreFactory> setProfileStoreFactory(
    std::shared_ptr<ProfileStoreFactory> factory);

}  // namespace zv::device
