#include "device/ProfileStoreFactory.h"

#include <mutex>

#include "device/DeviceController.h"
#include "platform/Paths.h"

namespace zv::device {

namespace {

// A store of the device's seed and profile folder whose settings live in memory.
class MemoryProfileStore : public SimpleProfileStore {
 public:
  using SimpleProfileStore::SimpleProfileStore;
  json::DictionaryPtr settings = json::makeDictionary();
};

std::mutex factoryMutex;
std::shared_ptr<ProfileStoreFactory>& slot() {
  static auto* factory = new std::shared_ptr<ProfileStoreFactory>;
  return *factory;
}

}  // namespace

bool MemoryProfileStoreFactory::storeExists(const DeviceController&) {
  return false;
}

std::shared_ptr<ProfileStoreInterface> MemoryProfileStoreFactory::makeStore(
    const std::shared_ptr<DeviceController>& device) {
  const json::Value* seed = device->dictionary()->find("SeedProfile");
  const json::Value* folder = device->dictionary()->find("ProfilePath");
  return std::make_shared<MemoryProfileStore>(
      device->bundle().resourcePath() / (seed ? seed->asString() : std::string()),
      platform::userDataFolder() / (folder ? folder->asString() : device->alias()));
}

void MemoryProfileStoreFactory::createIfMissing(ProfileStoreInterface&) {}

json::DictionaryPtr MemoryProfileStoreFactory::settings(ProfileStoreInterface& store) {
  auto* memory = dynamic_cast<MemoryProfileStore*>(&store);
  return memory ? memory->settings : nullptr;
}

void MemoryProfileStoreFactory::writeSettings(ProfileStoreInterface&) {}

std::shared_ptr<ProfileStoreFactory> profileStoreFactory() {
  std::lock_guard lock(factoryMutex);
  if (!slot()) slot() = std::make_shared<MemoryProfileStoreFactory>();
  return slot();
}

std::shared_ptr<ProfileStoreFactory> setProfileStoreFactory(
    std::shared_ptr<ProfileStoreFactory> factory) {
  std::lock_guard lock(factoryMutex);
  std::shared_ptr<ProfileStoreFactory> previous = std::move(slot());
  slot() = std::move(factory);
  return previous;
}

}  // namespace zv::device
