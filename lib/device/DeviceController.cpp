#include "device/DeviceController.h"

#include "device/ProfileStoreFactory.h"
#include "json/CJSONSerializer.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::device {

using log::ZVLogLevel;

std::atomic<bool> DeviceController::executive_{false};

DeviceController::DeviceController(json::DictionaryPtr description,
                                   std::filesystem::path bundlePath)
    : identity_(std::move(description), std::move(bundlePath)) {}

DeviceController::~DeviceController() {
  connection_.detachInterfaces();
}

void DeviceController::initialize() {
  connection_.makeInterfaces(identity_, this);
  if (profileStoreFactory()->storeExists(*this)) createProfileStore();
}

bool DeviceController::isExecutive() {
  return executive_.load(std::memory_order_relaxed);
}

void DeviceController::setIsExecutive(bool executive) {
  executive_.store(executive, std::memory_order_relaxed);
}

std::filesystem::path DeviceController::bundleDirectory() {
  if (const auto application = support::Bundle::main()) {
    std::error_code ec;
    if (std::filesystem::is_directory(application->builtInPlugInsPath(), ec)) {
      return application->builtInPlugInsPath();
    }
  }
  return platform::devicesFolder();
}

// --- Profile store -------------------------------------------------------------------------

std::shared_ptr<ProfileStoreInterface> DeviceController::profileStore() const {
  std::lock_guard lock(mutex_);
  return profileStore_;
}

void DeviceController::setProfileStore(std::shared_ptr<ProfileStoreInterface> store) {
  std::lock_guard lock(mutex_);
  profileStore_ = std::move(store);
}

void DeviceController::createProfileStore() {
  const std::shared_ptr<ProfileStoreFactory> factory = profileStoreFactory();
  std::shared_ptr<ProfileStoreInterface> store = profileStore();
  if (!store) {
    std::shared_ptr<DeviceController> self = weak_from_this().lock();
    if (!self) return;  // not held in a shared pointer: nothing can own the store
    store = factory->makeStore(self);
    if (!store) return;
    setProfileStore(store);
  }
  factory->createIfMissing(*store);
}

profile::ObjectPtr DeviceController::seedProfile() {
  if (!seedProfile_) {
    std::shared_ptr<DeviceController> self = weak_from_this().lock();
    const auto store = profileStore();
    if (!self || !store) return nullptr;
    seedProfile_ = profileStoreFactory()->loadSeedProfile(self, *store);
  }
  return seedProfile_;
}

profile::ObjectPtr DeviceController::seedCurrentController() {
  const profile::ObjectPtr seed = seedProfile();
  if (!seed) return nullptr;
  // As a profile picks its controller: the last one named after the device's brand alias.
  const json::Value wanted(balias());
  profile::ObjectPtr current;
  for (const profile::ObjectPtr& controller : seed->children("controllers")) {
    if (controller->tevNodeValue() == wanted) current = controller;
  }
  return current;
}

// --- Connection ----------------------------------------------------------------------------

void DeviceController::setDelegate(std::weak_ptr<DeviceControllerDelegate> delegate) {
  {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
  }
  if (connected()) performDeviceEvent("connect");
}

std::shared_ptr<DeviceControllerDelegate> DeviceController::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void DeviceController::performDeviceEvent(const std::string& event) {
  std::weak_ptr<DeviceControllerDelegate> delegate;
  {
    std::lock_guard lock(mutex_);
    delegate = delegate_;
  }
  // Queued, so that a delegate hears of the connection after the connect has finished,
  // whoever called it.
  platform::RunLoop::main().post([delegate, event] {
    if (auto target = delegate.lock()) target->onDeviceEvent(event);
  });
}

void DeviceController::onConnect(DriverInterface& connecting) {
  if (!connection_.connect(connecting, identity_)) return;
  createProfileStore();
  if (const auto store = profileStore()) profileStoreFactory()->reactivateCurrentProfile(*store);
  if (const auto controller = seedCurrentController()) {
    for (const profile::ObjectPtr& control : controller->children("controls")) {
      if (control->tevNodeType() != "hat") continue;
      const json::Value value = control->tevNodeValue();
      if (value.isNumber()) {
        connecting.setHatElement(static_cast<std::uint32_t>(value.asNumber()));
      }
    }
  }
  std::weak_ptr<DeviceController> self = weak_from_this();
  platform::RunLoop::main().post([self] {
    if (auto controller = self.lock()) controller->startMonitorThread();
  });
  ZV_LOG(ZVLogLevel::Notice, this, "connected");
  performDeviceEvent("connect");
  if (auto target = delegate()) target->deviceConnected(*this, true);
}

void DeviceController::onDisconnect(DriverInterface& disconnecting) {
  if (!connection_.disconnect(disconnecting)) return;
  ZV_LOG(ZVLogLevel::Notice, this, "disconnected");
  performDeviceEvent("disconnect");
  if (const auto store = profileStore()) profileStoreFactory()->deactivateCurrentProfile(*store);
  if (auto target = delegate()) target->deviceConnected(*this, false);
}

void DeviceController::onElementEvent(std::uint32_t element, std::int32_t value,
                                      std::int32_t oldValue) {
  if (auto target = delegate()) target->onElementEvent(element, value, oldValue);
}

// --- Battery and device settings report ---------------------------------------------------

void DeviceController::startMonitorThread() {
  std::weak_ptr<DeviceController> self = weak_from_this();
  connection_.startBatteryMonitor([self] {
    if (auto controller = self.lock()) controller->monitorThreadFunc();
  });
}

void DeviceController::writeSettings() {
  std::weak_ptr<DeviceController> self = weak_from_this();
  platform::RunLoop::main().addTimer(std::chrono::milliseconds(200), [self] {
    if (auto controller = self.lock()) controller->connection_.sendSettingsReport();
  });
}

// --- Editor --------------------------------------------------------------------------------

std::shared_ptr<profile::ZVPrototypedObject> DeviceController::controllerDescription() {
  if (!controllerDescription_) {
    const auto seed = seedProfile();
    if (!seed) return nullptr;
    const profile::ObjectArray& controllers = seed->children("controllers");
    if (!controllers.empty()) controllerDescription_ = controllers.front();
  }
  return controllerDescription_;
}

std::vector<std::shared_ptr<profile::ZVPrototypedObject>> DeviceController::buttons() {
  if (!buttons_) {
    const auto description = controllerDescription();
    if (!description) return {};
    buttons_.emplace();
    for (const profile::ObjectPtr& control : description->children("controls")) {
      if (control->tevNodeType() == "button") buttons_->push_back(control);
    }
  }
  return *buttons_;
}

std::optional<std::string> DeviceController::controlDescriptionJSON() {
  if (!profileStore()) return std::nullopt;
  const auto description = controllerDescription();
  if (!description || !description->JSONDictionary()) return std::nullopt;
  auto text =
      json::CJSONSerializer::serializer().serializeDictionary(*description->JSONDictionary());
  if (!text) {
    ZV_LOG(ZVLogLevel::Error, this, "the controller description does not write as JSON: %@",
           text.failure().message);
    return std::nullopt;
  }
  return std::move(*text);
}

}  // namespace zv::device
