#include "store/ProfileFilesStoreFactory.h"

#include "store/ZVProfileStore.h"

namespace zv::store {

namespace {

ZVProfileStore* filesStore(device::ProfileStoreInterface& store) {
  return dynamic_cast<ZVProfileStore*>(&store);
}

}  // namespace

bool ProfileFilesStoreFactory::storeExists(const device::DeviceController& device) {
  return ZVProfileStore::profileStoreExistsForDevice(device);
}

std::shared_ptr<device::ProfileStoreInterface> ProfileFilesStoreFactory::makeStore(
    const std::shared_ptr<device::DeviceController>& device) {
  auto store = ZVProfileStore::profileStoreForDevice(device);
  if (!store) return nullptr;
  store->readInfo();
  store->readDirectory();
  return store;
}

void ProfileFilesStoreFactory::createIfMissing(device::ProfileStoreInterface& store) {
  if (auto* files = filesStore(store); files && !files->exists()) files->create();
}

json::DictionaryPtr ProfileFilesStoreFactory::settings(device::ProfileStoreInterface& store) {
  auto* files = filesStore(store);
  return files ? files->settings() : nullptr;
}

void ProfileFilesStoreFactory::writeSettings(device::ProfileStoreInterface& store) {
  if (auto* files = filesStore(store)) files->writeSettings();
}

}  // namespace zv::store
