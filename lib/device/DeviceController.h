// The object that stands for one supported device: made from one device description of a
// device bundle (its Info.plist "Devices" entry, with the bundle's defaults filled in),
// it names the device, holds its driver interface and its profile store, and carries the
// process-wide flag that says whether this process runs profiles.
//
// What is here is what profiles and their engine use: identity, the driver interface,
// the element map, the profile store and the executive flag. Connection handling,
// battery polling, device settings and the editor's script names are added by the device
// layer on this same class.
//
// Threads: made and configured on the main thread. driverInterface() and elementMap()
// may be called from any thread (command threads send button states through the driver
// interface); the identity accessors read the description, which nothing changes after
// construction.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device/DriverOperations.h"
#include "device/ProfileStoreInterface.h"
#include "json/Value.h"
#include "support/Bundle.h"

namespace zv::device {

class DeviceController {
 public:
  // `description` is kept as it is (shared, not copied): the "Devices" entry of the
  // bundle's Info.plist, completed with the bundle's defaults (see DeviceDescriptions.h).
  // Missing integers read as 0 and missing texts as "". When "VendorID" or "ProductID" is
  // 0, the first entry of "drivers" that has one supplies it.
  DeviceController(json::DictionaryPtr description, std::filesystem::path bundlePath);
  virtual ~DeviceController() = default;
  DeviceController(const DeviceController&) = delete;
  DeviceController& operator=(const DeviceController&) = delete;

  // Whether this process is the one that runs profiles (the agent sets it at start; the
  // editor leaves it false). Read by shift states and profiles: only the executive
  // assigns the pointer axes and hands overridden elements back on deactivation.
  static bool isExecutive();
  static void setIsExecutive(bool executive);

  const json::DictionaryPtr& dictionary() const { return dictionary_; }
  const support::Bundle& bundle() const { return bundle_; }

  // Read from the description at each call: "Alias", "Balias", "Brand".
  std::string alias() const;
  std::string balias() const;
  std::string brand() const;
  // Read at construction: "Name", "Title", "CFBundleVersion".
  const std::string& name() const { return name_; }
  const std::string& title() const { return title_; }
  const std::string& softwareVersion() const { return softwareVersion_; }
  // "<Alias>-<TypeID>", e.g. "DemoMouse-1": the key of the device among all devices.
  const std::string& udid() const { return udid_; }
  std::int64_t vendorId() const { return vendorId_; }
  std::int64_t productId() const { return productId_; }
  std::uint16_t typeId() const { return typeId_; }

  // The driver interface: nullptr until one is set (a description without product
  // identifier has none).
  std::shared_ptr<DriverOperations> driverInterface() const;
  void setDriverInterface(std::shared_ptr<DriverOperations> driver);
  // The driver interface's element map; empty without a driver interface.
  ElementMap elementMap() const;

  // The device's profile store; nullptr until one is set.
  std::shared_ptr<ProfileStoreInterface> profileStore() const;
  void setProfileStore(std::shared_ptr<ProfileStoreInterface> store);

 private:
  std::string text(std::string_view key) const;

  static std::atomic<bool> executive_;

  json::DictionaryPtr dictionary_;
  support::Bundle bundle_;
  std::string name_;
  std::string title_;
  std::string softwareVersion_;
  std::string udid_;
  std::int64_t vendorId_ = 0;
  std::int64_t productId_ = 0;
  std::uint16_t typeId_ = 0;

  mutable std::mutex mutex_;
  std::shared_ptr<DriverOperations> driver_;
  std::shared_ptr<ProfileStoreInterface> profileStore_;
};

}  // namespace zv::device
