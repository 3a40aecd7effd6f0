#include "device/DeviceConnection.h"

namespace zv::device {

DeviceConnection::~DeviceConnection() {
  if (batteryTimer_) platform::RunLoop::main().cancelTimer(batteryTimer_);
}

void DeviceConnection::makeInterfaces(const DeviceIdentity& identity,
                                      DriverInterfaceDelegate* delegate) {
  std::vector<std::shared_ptr<DriverInterface>> made;
  // The description's own product (not one a "drivers" entry filled in) has an interface
  // of the description's class.
  if (identity.ownProductId() != 0) {
    made.push_back(DriverInterface::create(identity.vendorId(), identity.productId(),
                                           identity.typeId(), delegate,
                                           identity.text("DriverInterface")));
  }
  const json::Value* remapping = identity.dictionary()->find("ElementRemapping");
  for (const json::DictionaryPtr& entry : identity.driverEntries()) {
    const auto vendor = static_cast<std::uint16_t>(integerOf(entry->find("VendorID")));
    const auto product = static_cast<std::uint16_t>(integerOf(entry->find("ProductID")));
    const json::Value* name = entry->find("DriverInterface");
    auto interface = DriverInterface::create(vendor, product, 0, delegate,
                                             name && name->isString() ? name->asString() : "");
    if (remapping && remapping->isDictionary()) {
      interface->setElementRemapping(*remapping->asDictionary());
    }
    made.push_back(std::move(interface));
  }
  std::lock_guard lock(mutex_);
  interfaces_ = made;
  if (!made.empty()) driver_ = made.back();
}

void DeviceConnection::detachInterfaces() {
  // The interfaces may outlive the controller (an owner of a copy): they must not call it.
  for (const auto& interface : driverInterfaces()) interface->setDelegate(nullptr);
}

std::shared_ptr<DriverOperations> DeviceConnection::driverInterface() const {
  std::lock_guard lock(mutex_);
  return driver_;
}

void DeviceConnection::setDriverInterface(std::shared_ptr<DriverOperations> driver) {
  std::lock_guard lock(mutex_);
  driver_ = std::move(driver);
}

std::shared_ptr<DriverInterface> DeviceConnection::driver() const {
  return std::dynamic_pointer_cast<DriverInterface>(driverInterface());
}

std::vector<std::shared_ptr<DriverInterface>> DeviceConnection::driverInterfaces() const {
  std::lock_guard lock(mutex_);
  return interfaces_;
}

ElementMap DeviceConnection::elementMap() const {
  const std::shared_ptr<DriverOperations> driver = driverInterface();
  return driver ? driver->elementMap() : ElementMap();
}

bool DeviceConnection::connect(DriverInterface& connecting, const DeviceIdentity& identity) {
  if (connected_.exchange(true)) return false;
  std::shared_ptr<DriverInterface> driver = connecting.shared_from_this();
  setDriverInterface(driver);
  if (const json::Value* remapping = identity.dictionary()->find("ElementRemapping");
      remapping && remapping->isDictionary()) {
    driver->setElementRemapping(*remapping->asDictionary());
  }
  return true;
}

bool DeviceConnection::disconnect(DriverInterface& disconnecting) {
  if (driverInterface().get() != static_cast<DriverOperations*>(&disconnecting)) return false;
  return connected_.exchange(false);
}

void DeviceConnection::sendControlRequest(userclient::ZVControlRequest& request) {
  if (const auto interface = driver()) interface->sendControlRequest(request);
}

void DeviceConnection::readBatteryStatus() {
  batteryLevel_.store(static_cast<std::uint8_t>(readFromDeviceMemory(kBatteryAddress)));
}

std::uint16_t DeviceConnection::readFromDeviceMemory(std::int32_t address) {
  const auto interface = driver();
  return interface ? interface->readFromDeviceMemory(address) : 0;
}

void DeviceConnection::enterFirmwareMode() {
  userclient::ZVControlRequest request;
  request.requestType = 0x40;
  request.request = 0x91;
  request.value = 0x505F;
  request.index = 0x5F;
  request.length = 2;
  sendControlRequest(request);
}

void DeviceConnection::sendSettingsReport() {
  static constexpr std::uint8_t kSettingsReport[] = {0x01, 0x01};
  if (const auto interface = driver()) interface->setFeature(kSettingsReport);
}

void DeviceConnection::startBatteryMonitor(std::function<void()> tick) {
  if (batteryTimer_) return;
  batteryTimer_ = platform::RunLoop::main().addRepeatingTimer(kBatteryInterval, std::move(tick));
}

}  // namespace zv::device
