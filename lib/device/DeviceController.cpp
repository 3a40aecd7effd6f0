#include "device/DeviceController.h"

#include <algorithm>
#include <cmath>

#include "device/ProfileStoreFactory.h"
#include "json/CJSONSerializer.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "profile/ZVPrototypedObject.h"
#include "protocol/SuiteVersion.h"

namespace zv::device {
namespace {

using log::ZVLogLevel;

std::int64_t integerOf(const json::Value* value) {
  if (!value || !value->isNumber()) return 0;
  const double number = value->asNumber();
  if (!std::isfinite(number) || std::fabs(number) > 9.0e18) return 0;
  return static_cast<std::int64_t>(number);
}

// The "drivers" entries that are dictionaries, in order.
std::vector<json::DictionaryPtr> driverEntries(const json::Dictionary& description) {
  std::vector<json::DictionaryPtr> entries;
  if (const json::Value* drivers = description.find("drivers"); drivers && drivers->isArray()) {
    for (const json::Value& entry : *drivers->asArray()) {
      if (entry.isDictionary()) entries.push_back(entry.asDictionary());
    }
  }
  return entries;
}

constexpr ScriptOperation kScriptOperations[] = {
    {"OverrideElement", "JS_OverrideElement:enabled:", 2},
    {"GetBundleVersion", "JS_GetVersion", 0},
    {"GetName", "JS_GetName", 0},
    {"GetPID", "productId", 0},
    {"GetVID", "vendorId", 0},
    {"connected", "connected", 0},
    {"GetBatteryLevel", "batteryLevel", 0},
    {"GetBatteryState", "batteryState", 0},
    {"GetBatteryLifeYears", "batteryLifeYears", 0},
    {"controlDescriptionJSON", "controlDescriptionJSON", 0},
    {"GetBrand", "brand", 0},
    {"GetAlias", "alias", 0},
    {"GetBalias", "balias", 0},
    {"GetType", "typeId", 0},
    {"WriteSettings", "writeSettings", 0},
    {"GetSetting", "getSetting:", 1},
    {"SetSetting", "setSetting:value:", 2},
};

}  // namespace

std::atomic<bool> DeviceController::executive_{false};

DeviceController::DeviceController(json::DictionaryPtr description,
                                   std::filesystem::path bundlePath)
    : dictionary_(description ? std::move(description) : json::makeDictionary()),
      bundle_(std::move(bundlePath)) {
  vendorId_ = integerOf(dictionary_->find("VendorID"));
  productId_ = integerOf(dictionary_->find("ProductID"));
  typeId_ = static_cast<std::uint16_t>(integerOf(dictionary_->find("TypeID")));
  udid_ = alias() + "-" + std::to_string(typeId_);
  softwareVersion_ = text("CFBundleVersion");
  // The suite's own bundles leave the version to the build, so that one version is shown
  // and compared everywhere; another maker's bundle may still name its own.
  if (softwareVersion_.empty()) softwareVersion_ = kSuiteVersion;
  name_ = text("Name");
  title_ = text("Title");
  if (const std::string image = text("MenuImage"); !image.empty()) {
    imagePath_ = bundle_.pathForResource(image);
  }
  // Descriptions served by other drivers name their identifiers in "drivers" entries.
  for (const json::DictionaryPtr& entry : driverEntries(*dictionary_)) {
    const auto vendor = static_cast<std::uint16_t>(integerOf(entry->find("VendorID")));
    const auto product = static_cast<std::uint16_t>(integerOf(entry->find("ProductID")));
    if (vendorId_ == 0) vendorId_ = vendor;
    if (productId_ == 0) productId_ = product;
  }
}

DeviceController::~DeviceController() {
  // The interfaces may outlive the controller (an owner of a copy): they must not call it.
  for (const auto& interface : interfaces_) interface->setDelegate(nullptr);
  if (batteryTimer_) platform::RunLoop::main().cancelTimer(batteryTimer_);
}

void DeviceController::initialize() {
  std::vector<std::shared_ptr<DriverInterface>> made;
  // The description's own product (not one a "drivers" entry filled in) has an interface
  // of the description's class.
  if (integerOf(dictionary_->find("ProductID")) != 0) {
    made.push_back(
        DriverInterface::create(vendorId_, productId_, typeId_, this, text("DriverInterface")));
  }
  const json::Value* remapping = dictionary_->find("ElementRemapping");
  for (const json::DictionaryPtr& entry : driverEntries(*dictionary_)) {
    const auto vendor = static_cast<std::uint16_t>(integerOf(entry->find("VendorID")));
    const auto product = static_cast<std::uint16_t>(integerOf(entry->find("ProductID")));
    const json::Value* name = entry->find("DriverInterface");
    auto interface = DriverInterface::create(vendor, product, 0, this,
                                             name && name->isString() ? name->asString() : "");
    if (remapping && remapping->isDictionary()) {
      interface->setElementRemapping(*remapping->asDictionary());
    }
    made.push_back(std::move(interface));
  }
  {
    std::lock_guard lock(mutex_);
    interfaces_ = made;
    if (!made.empty()) driver_ = made.back();
  }
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

std::string DeviceController::text(std::string_view key) const {
  const json::Value* value = dictionary_->find(key);
  return value ? value->asString() : std::string();
}

std::string DeviceController::alias() const {
  return text("Alias");
}

std::string DeviceController::balias() const {
  return text("Balias");
}

std::string DeviceController::brand() const {
  return text("Brand");
}

std::string DeviceController::description() const {
  return udid_ + " (" + name_ + ")";
}

// --- Driver --------------------------------------------------------------------------------

std::shared_ptr<DriverOperations> DeviceController::driverInterface() const {
  std::lock_guard lock(mutex_);
  return driver_;
}

void DeviceController::setDriverInterface(std::shared_ptr<DriverOperations> driver) {
  std::lock_guard lock(mutex_);
  driver_ = std::move(driver);
}

std::shared_ptr<DriverInterface> DeviceController::driver() const {
  return std::dynamic_pointer_cast<DriverInterface>(driverInterface());
}

std::vector<std::shared_ptr<DriverInterface>> DeviceController::driverInterfaces() const {
  std::lock_guard lock(mutex_);
  return interfaces_;
}

ElementMap DeviceController::elementMap() const {
  const std::shared_ptr<DriverOperations> driver = driverInterface();
  return driver ? driver->elementMap() : ElementMap();
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
  if (connected_.exchange(true)) return;
  std::shared_ptr<DriverInterface> driver = connecting.shared_from_this();
  setDriverInterface(driver);
  if (const json::Value* remapping = dictionary_->find("ElementRemapping");
      remapping && remapping->isDictionary()) {
    driver->setElementRemapping(*remapping->asDictionary());
  }
  createProfileStore();
  if (const auto store = profileStore()) profileStoreFactory()->reactivateCurrentProfile(*store);
  if (const auto controller = seedCurrentController()) {
    for (const profile::ObjectPtr& control : controller->children("controls")) {
      if (control->tevNodeType() != "hat") continue;
      const json::Value value = control->tevNodeValue();
      if (value.isNumber()) driver->setHatElement(static_cast<std::uint32_t>(value.asNumber()));
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
  if (driverInterface().get() != static_cast<DriverOperations*>(&disconnecting)) return;
  if (!connected_.exchange(false)) return;
  ZV_LOG(ZVLogLevel::Notice, this, "disconnected");
  performDeviceEvent("disconnect");
  if (const auto store = profileStore()) profileStoreFactory()->deactivateCurrentProfile(*store);
  if (auto target = delegate()) target->deviceConnected(*this, false);
}

void DeviceController::onElementEvent(std::uint32_t element, std::int32_t value,
                                      std::int32_t oldValue) {
  if (auto target = delegate()) target->onElementEvent(element, value, oldValue);
}

// --- Battery and device memory -------------------------------------------------------------

void DeviceController::sendControlRequest(userclient::ZVControlRequest& request) {
  if (const auto interface = driver()) interface->sendControlRequest(request);
}

void DeviceController::readBatteryStatus() {
  batteryLevel_.store(static_cast<std::uint8_t>(readFromDeviceMemory(kBatteryAddress)));
}

std::uint16_t DeviceController::readFromDeviceMemory(std::int32_t address) {
  userclient::ZVControlRequest request;
  request.requestType = 0xC0;
  request.request = 0x90;
  request.index = static_cast<std::uint64_t>(static_cast<std::uint32_t>(address));
  request.length = 2;
  sendControlRequest(request);
  return static_cast<std::uint16_t>(request.data);
}

void DeviceController::enterFirmwareMode() {
  userclient::ZVControlRequest request;
  request.requestType = 0x40;
  request.request = 0x91;
  request.value = 0x505F;
  request.index = 0x5F;
  request.length = 2;
  sendControlRequest(request);
}

void DeviceController::monitorThreadFunc() {
  readBatteryStatus();
}

void DeviceController::startMonitorThread() {
  if (batteryTimer_) return;
  std::weak_ptr<DeviceController> self = weak_from_this();
  batteryTimer_ = platform::RunLoop::main().addRepeatingTimer(kBatteryInterval, [self] {
    if (auto controller = self.lock()) controller->monitorThreadFunc();
  });
}

bool DeviceController::batteryTimerRunning() const {
  return batteryTimer_ != 0;
}

void DeviceController::writeSettings() {
  std::weak_ptr<DeviceController> self = weak_from_this();
  platform::RunLoop::main().addTimer(std::chrono::milliseconds(200), [self] {
    auto controller = self.lock();
    const auto interface = controller ? controller->driver() : nullptr;
    static constexpr std::uint8_t kSettingsReport[] = {0x01, 0x01};
    if (interface) interface->setFeature(kSettingsReport);
  });
}

// --- Settings ------------------------------------------------------------------------------

std::int32_t DeviceController::getSetting(std::string_view key) const {
  const auto store = profileStore();
  if (!store) return 0;
  const json::DictionaryPtr settings = profileStoreFactory()->settings(*store);
  const json::Value* value = settings ? settings->find(key) : nullptr;
  return value && value->isNumber() ? static_cast<std::int32_t>(integerOf(value)) : 0;
}

void DeviceController::setSetting(std::string_view key, std::int32_t value) {
  const auto store = profileStore();
  if (!store) return;
  const std::shared_ptr<ProfileStoreFactory> factory = profileStoreFactory();
  const json::DictionaryPtr settings = factory->settings(*store);
  if (!settings) return;
  settings->set(key, json::Value(value));
  factory->writeSettings(*store);
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
  try {
    return json::CJSONSerializer::serializer().serializeDictionary(*description->JSONDictionary());
  } catch (const std::exception& error) {
    ZV_LOG(ZVLogLevel::Error, this, "the controller description does not write as JSON: %@",
           error.what());
    return std::nullopt;
  }
}

std::span<const ScriptOperation> DeviceController::scriptOperations() {
  return kScriptOperations;
}

std::optional<json::Value> DeviceController::callScriptOperation(
    std::string_view scriptName, std::span<const json::Value> arguments) {
  const auto operations = scriptOperations();
  const auto found =
      std::find_if(operations.begin(), operations.end(),
                   [&](const ScriptOperation& o) { return o.scriptName == scriptName; });
  if (found == operations.end() || arguments.size() < std::size_t(found->arguments)) {
    return std::nullopt;
  }
  const auto number = [&](std::size_t i) { return integerOf(&arguments[i]); };
  const auto string = [&](std::size_t i) {
    return arguments[i].isString() ? arguments[i].asString() : std::string();
  };
  const std::string_view name = found->scriptName;
  if (name == "OverrideElement") {
    JS_OverrideElement(static_cast<std::uint32_t>(number(0)), number(1) != 0);
    return json::Value();
  }
  if (name == "GetBundleVersion") return json::Value(JS_GetVersion());
  if (name == "GetName") return json::Value(JS_GetName());
  if (name == "GetPID") return json::Value(productId_);
  if (name == "GetVID") return json::Value(vendorId_);
  if (name == "connected") return json::Value::boolean(connected());
  if (name == "GetBatteryLevel") return json::Value(unsigned{batteryLevel()});
  if (name == "GetBatteryState") return json::Value(batteryState());
  if (name == "controlDescriptionJSON") {
    const auto text = controlDescriptionJSON();
    return text ? json::Value(*text) : json::Value();
  }
  if (name == "GetBrand") return json::Value(brand());
  if (name == "GetAlias") return json::Value(alias());
  if (name == "GetBalias") return json::Value(balias());
  if (name == "GetType") return json::Value(unsigned{typeId_});
  if (name == "WriteSettings") {
    writeSettings();
    return json::Value();
  }
  if (name == "GetSetting") return json::Value(getSetting(string(0)));
  if (name == "SetSetting") {
    setSetting(string(0), static_cast<std::int32_t>(number(1)));
    return json::Value();
  }
  // "GetBatteryLifeYears": the base class has no batteryLifeYears.
  return std::nullopt;
}

}  // namespace zv::device
