#include "device/DeviceController.h"

#include <cmath>

namespace zv::device {
namespace {

std::int64_t integerOf(const json::Value* value) {
  if (!value || !value->isNumber()) return 0;
  const double number = value->asNumber();
  if (!std::isfinite(number) || std::fabs(number) > 9.0e18) return 0;
  return static_cast<std::int64_t>(number);
}

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
  name_ = text("Name");
  title_ = text("Title");
  // Descriptions served by other drivers name their identifiers in "drivers" entries.
  if (const json::Value* drivers = dictionary_->find("drivers"); drivers && drivers->isArray()) {
    for (const json::Value& entry : *drivers->asArray()) {
      const json::DictionaryPtr& driver = entry.asDictionary();
      if (!driver) continue;
      const auto vendor = static_cast<std::uint16_t>(integerOf(driver->find("VendorID")));
      const auto product = static_cast<std::uint16_t>(integerOf(driver->find("ProductID")));
      if (vendorId_ == 0) vendorId_ = vendor;
      if (productId_ == 0) productId_ = product;
    }
  }
}

bool DeviceController::isExecutive() {
  return executive_.load(std::memory_order_relaxed);
}

void DeviceController::setIsExecutive(bool executive) {
  executive_.store(executive, std::memory_order_relaxed);
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

std::shared_ptr<DriverOperations> DeviceController::driverInterface() const {
  std::lock_guard lock(mutex_);
  return driver_;
}

void DeviceController::setDriverInterface(std::shared_ptr<DriverOperations> driver) {
  std::lock_guard lock(mutex_);
  driver_ = std::move(driver);
}

ElementMap DeviceController::elementMap() const {
  const std::shared_ptr<DriverOperations> driver = driverInterface();
  return driver ? driver->elementMap() : ElementMap();
}

std::shared_ptr<ProfileStoreInterface> DeviceController::profileStore() const {
  std::lock_guard lock(mutex_);
  return profileStore_;
}

void DeviceController::setProfileStore(std::shared_ptr<ProfileStoreInterface> store) {
  std::lock_guard lock(mutex_);
  profileStore_ = std::move(store);
}

}  // namespace zv::device
