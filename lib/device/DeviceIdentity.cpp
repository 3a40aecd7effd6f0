#include "device/DeviceIdentity.h"

#include <cmath>

namespace zv::device {

std::int64_t integerOf(const json::Value* value) {
  if (!value || !value->isNumber()) return 0;
  const double number = value->asNumber();
  if (!std::isfinite(number) || std::fabs(number) > 9.0e18) return 0;
  return static_cast<std::int64_t>(number);
}

DeviceIdentity::DeviceIdentity(json::DictionaryPtr description, std::filesystem::path bundlePath)
    : dictionary_(description ? std::move(description) : json::makeDictionary()),
      bundle_(std::move(bundlePath)) {
  vendorId_ = integerOf(dictionary_->find("VendorID"));
  productId_ = integerOf(dictionary_->find("ProductID"));
  typeId_ = static_cast<std::uint16_t>(integerOf(dictionary_->find("TypeID")));
  udid_ = alias() + "-" + std::to_string(typeId_);
  softwareVersion_ = text("CFBundleVersion");
  name_ = text("Name");
  title_ = text("Title");
  if (const std::string image = text("MenuImage"); !image.empty()) {
    imagePath_ = bundle_.pathForResource(image);
  }
  // Descriptions served by other drivers name their identifiers in "drivers" entries.
  for (const json::DictionaryPtr& entry : driverEntries()) {
    const auto vendor = static_cast<std::uint16_t>(integerOf(entry->find("VendorID")));
    const auto product = static_cast<std::uint16_t>(integerOf(entry->find("ProductID")));
    if (vendorId_ == 0) vendorId_ = vendor;
    if (productId_ == 0) productId_ = product;
  }
}

std::string DeviceIdentity::text(std::string_view key) const {
  const json::Value* value = dictionary_->find(key);
  return value ? value->asString() : std::string();
}

std::int64_t DeviceIdentity::ownProductId() const {
  return integerOf(dictionary_->find("ProductID"));
}

std::vector<json::DictionaryPtr> DeviceIdentity::driverEntries() const {
  std::vector<json::DictionaryPtr> entries;
  if (const json::Value* drivers = dictionary_->find("drivers"); drivers && drivers->isArray()) {
    for (const json::Value& entry : *drivers->asArray()) {
      if (entry.isDictionary()) entries.push_back(entry.asDictionary());
    }
  }
  return entries;
}

}  // namespace zv::device
