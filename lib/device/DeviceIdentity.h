// Who a device is: the device description it was made from (its bundle's Info.plist
// "Devices" entry, with the bundle's defaults filled in), the bundle, and what is read from
// the description once: name, title, software version, "<Alias>-<TypeID>", vendor,
// product and type identifiers, the menu image. "Alias", "Balias" and "Brand" are read at
// each call. Missing integers read as 0 and missing texts as "". When "VendorID" or
// "ProductID" is 0, the first entry of "drivers" that has one supplies it.
//
// A plain value, read-only once made: safe to read from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/Value.h"
#include "support/Bundle.h"

namespace zv::device {

class DeviceIdentity {
 public:
  // `description` is kept as it is (shared, not copied); null reads as an empty one.
  DeviceIdentity(json::DictionaryPtr description, std::filesystem::path bundlePath);

  const json::DictionaryPtr& dictionary() const { return dictionary_; }
  const support::Bundle& bundle() const { return bundle_; }
  std::string alias() const { return text("Alias"); }
  std::string balias() const { return text("Balias"); }
  std::string brand() const { return text("Brand"); }
  const std::string& name() const { return name_; }
  const std::string& title() const { return title_; }
  const std::string& softwareVersion() const { return softwareVersion_; }
  const std::string& udid() const { return udid_; }
  std::int64_t vendorId() const { return vendorId_; }
  std::int64_t productId() const { return productId_; }
  std::uint16_t typeId() const { return typeId_; }
  const std::optional<std::filesystem::path>& imagePath() const { return imagePath_; }

  // The text under `key`; "" when missing.
  std::string text(std::string_view key) const;
  // "DemoMouse-1 (Zenvor Demo Mouse)", for log lines.
  std::string description() const { return udid_ + " (" + name_ + ")"; }

  // The description's own "ProductID" (0 when a "drivers" entry supplied productId()).
  std::int64_t ownProductId() const;
  // The "drivers" entries that are dictionaries, in order.
  std::vector<json::DictionaryPtr> driverEntries() const;

 private:
  json::DictionaryPtr dictionary_;
  support::Bundle bundle_;
  std::string name_;
  std::string title_;
  std::string softwareVersion_;
  std::string udid_;
  std::int64_t vendorId_ = 0;
  std::int64_t productId_ = 0;
  std::uint16_t typeId_ = 0;
  std::optional<std::filesystem::path> imagePath_;
};

// A description's number as a 64-bit integer: 0 when missing, not a number or out of range.
std::int64_t integerOf(const json::Value* value);

}  // namespace zv::device
