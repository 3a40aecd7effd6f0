// A profile store of the demo mouse in a temporary tree: profiles are made from the demo
// bundle's files, the info file can be read back, and waits run the main run loop.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "WatchTestSupport.h"
#include "device/DeviceController.h"
#include "engine/ZVProfile.h"
#include "log/Log.h"
#include "profile/ProfileFile.h"
#include "store/SharedFile.h"
#include "store/ZVProfileStore.h"
#include "testing/EngineHarness.h"
#include "testing/TemporaryTree.h"

namespace zv::store::testing {

namespace fs = std::filesystem;
using platform::testing::waitFor;

// Hears what a store tells its delegate.
class StoreListener : public ZVProfileStoreDelegate {
 public:
  void profileStoreUpdate(ZVProfileStore&) override { ++updates; }
  void profileStoreDeleted(ZVProfileStore&) override { ++deletions; }
  void activeProfileHasChanged() override { ++activeChanges; }
  void startupProfileHasChanged() override { ++startupChanges; }
  int updates = 0, deletions = 0, activeChanges = 0, startupChanges = 0;
};

class StoreTest : public ::testing::Test {
 protected:
  StoreTest() {
    engine::ZVProfile::setSharedPrototype(zv::testing::bundledPrototype());
    wasExecutive_ = device::DeviceController::isExecutive();
    device::DeviceController::setIsExecutive(false);
    device = zv::testing::makeDemoDevice();
    previousHandler_ = log::setSystemLogHandler(
        [this](std::string_view message) { notices.emplace_back(message); });
  }
  ~StoreTest() override {
    if (store) store->setDelegate({});
    store.reset();
    device.reset();
    log::setSystemLogHandler(std::move(previousHandler_));
    device::DeviceController::setIsExecutive(wasExecutive_);
    engine::ZVProfile::setSharedPrototype(nullptr);
  }

  fs::path folder() const { return ZVProfileStore::profileFolderForDevice(*device); }
  fs::path infoFile() const { return folder() / ZVProfileStore::infoFileNameForDevice(*device); }

  // Opens the store as the device controller does, with `listener` as its delegate.
  void open() {
    store = ZVProfileStore::profileStoreForDevice(device);
    ASSERT_TRUE(store);
    store->setDelegate(listener);
    device->setProfileStore(store);
    store->readInfo();
    store->readDirectory();
    if (!store->exists()) store->create();
  }

  // A profile of the demo mouse saved as `name` (the demo default profile's content).
  fs::path addProfile(const std::string& name, const std::string& controller = "DemoMouse") {
    auto text =
        profile::readProfileText(zv::testing::demoBundlePath() / "Contents/Resources/Default.pr0");
    EXPECT_TRUE(text);
    std::string body = text.value_or("");
    if (controller != "DemoMouse") {
      for (std::size_t at; (at = body.find("DemoMouse")) != std::string::npos;) {
        body.replace(at, 9, controller);
      }
    }
    const fs::path path = folder() / (name + ".pr0");
    fs::create_directories(path.parent_path());
    EXPECT_TRUE(profile::writeProfileText(path, body));
    return path;
  }

  json::DictionaryPtr info() const {
    const auto read = readSharedDictionary(infoFile(), {});
    return read.dictionary ? read.dictionary : json::makeDictionary();
  }
  std::string infoText(const std::string& key) const {
    const auto dictionary = info();
    const json::Value* value = dictionary->find(key);
    return value && value->isString() ? value->asString() : "<absent>";
  }

  zv::testing::TemporaryTree tree;
  std::shared_ptr<device::DeviceController> device;
  std::shared_ptr<StoreListener> listener = std::make_shared<StoreListener>();
  std::shared_ptr<ZVProfileStore> store;
  std::vector<std::string> notices;

 private:
  bool wasExecutive_ = false;
  log::SystemLogHandler previousHandler_;
};

}  // namespace zv::store::testing
