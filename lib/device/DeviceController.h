// The object that stands for one supported device, made from one device description of a
// device bundle (its Info.plist "Devices" entry, with the bundle's defaults filled in).
// Every user-space part holds it. It keeps its operations under their usual names but
// does its work through parts with one job each:
//
//   identity()    DeviceIdentity: the description, the bundle and what is read from them
//                 (dictionary, bundle, alias, balias, brand, name, title, softwareVersion,
//                 udid, vendorId, productId, typeId, the menu image)
//   connection()  DeviceConnection: the driver interfaces (driverInterface, driver,
//                 elementMap), the element remapping handed to them, connected, the
//                 device memory and control requests (readFromDeviceMemory,
//                 enterFirmwareMode, writeSettings' report), and the battery monitor
//                 (readBatteryStatus, batteryLevel, monitorThreadFunc, startMonitorThread)
//   settings()    DeviceSettings: getSetting and setSetting in the profile store's
//                 settings, and the plain values pollingRate, ledOffTimer, dpiLock and
//                 powerSavingMode
//
// The controller itself ties them together: it owns the profile store
// (createProfileStore), follows connect and disconnect (onConnect, onDisconnect), passes
// element events to its delegate (onElementEvent), knows the controls of the seed profile
// (controllerDescription, buttons, controlDescriptionJSON) and carries the process-wide
// flag that says whether this process runs profiles (setIsExecutive, isExecutive). The
// operations the editor's page script may call, under their script names, are the
// editor's (editor/DeviceScriptOperations.h); the JS_ operations stay here.
//
// Making one: the constructor reads the description (identity only; it touches no
// device), which is all `kinetra simulate` and the engine's tests need. initialize()
// does the rest of the initialisation: it makes the driver interfaces (which start
// looking for the device) and opens the profile store when one exists on disk. The
// device manager (ZVDeviceManager.h) does both; controllers live in shared pointers.
//
// Connect (onConnect from a driver interface): the interface becomes driverInterface(),
// gets the bundle's element remapping, the profile store is made, the current profile is
// deactivated and chooses its shift state again (through the profile-store factory, see
// ProfileStoreFactory.h), every hat control of the seed profile's controller is handed
// to the interface (setHatElement), the battery timer starts (every 5 s on the main
// loop; it keeps running while disconnected), the delegate gets the device event
// "connect" (queued to the main loop, performDeviceEvent) and then deviceConnected(true).
// A second connect while connected changes nothing; a disconnect from an interface that
// is not the current one is ignored.
//
// Threads: made, initialised and connected on the main thread. driverInterface(),
// elementMap() and the identity accessors may be called from any thread (command threads
// send button states through the driver interface).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceConnection.h"
#include "device/DeviceIdentity.h"
#include "device/DeviceSettings.h"
#include "device/DriverInterface.h"
#include "device/DriverOperations.h"
#include "device/ProfileStoreInterface.h"
#include "json/Value.h"
#include "platform/RunLoop.h"
#include "support/Bundle.h"

namespace zv::profile {
class ZVPrototypedObject;
}  // namespace zv::profile

namespace zv::device {

class DeviceController;

// What a controller tells the user interface that holds it. Every operation is optional.
class DeviceControllerDelegate {
 public:
  virtual ~DeviceControllerDelegate() = default;
  // At the end of a connect (true) and of a disconnect (false), on the caller's thread
  // (the main loop).
  virtual void deviceConnected(DeviceController& /*device*/, bool /*connected*/) {}
  // "connect" or "disconnect", always queued to the main loop; also "connect" when a
  // delegate is set on a connected controller.
  virtual void onDeviceEvent(const std::string& /*event*/) {}
  // Each element event, passed on unchanged, on the caller's thread.
  virtual void onElementEvent(std::uint32_t /*element*/, std::int32_t /*value*/,
                              std::int32_t /*oldValue*/) {}
  // Sent only by specialised controllers.
  virtual void deviceDpiMode(DeviceController& /*device*/, int /*mode*/) {}
  virtual void deviceBatteryLevel(DeviceController& /*device*/, int /*level*/) {}
  virtual void deviceConnectComplete(DeviceController& /*device*/) {}
};

class DeviceController : public DriverInterfaceDelegate,
                         public std::enable_shared_from_this<DeviceController> {
 public:
  static constexpr std::chrono::seconds kBatteryInterval = DeviceConnection::kBatteryInterval;
  static constexpr std::int32_t kBatteryAddress = DeviceConnection::kBatteryAddress;

  // `description` is kept as it is (shared, not copied); DeviceIdentity says what is read.
  DeviceController(json::DictionaryPtr description, std::filesystem::path bundlePath);
  ~DeviceController() override;
  DeviceController(const DeviceController&) = delete;
  DeviceController& operator=(const DeviceController&) = delete;

  // The rest of the initialisation (see above): a driver interface for the description's
  // own "ProductID" (when not 0) and one for each "drivers" entry (the last becomes
  // driverInterface(), with the "ElementRemapping"), then the profile store when one
  // exists. Call once, on a controller held in a shared pointer.
  virtual void initialize();

  // Whether this process is the one that runs profiles (the agent sets it at start; the
  // editor leaves it false). Read by shift states and profiles: only the executive
  // assigns the pointer axes and hands overridden elements back on deactivation.
  static bool isExecutive();
  static void setIsExecutive(bool executive);

  // The running application's built-in plug-ins folder when it exists, else the installed
  // Devices folder: where the command store's command files are.
  static std::filesystem::path bundleDirectory();

  // --- The parts ----------------------------------------------------------------------------
  const DeviceIdentity& identity() const { return identity_; }
  DeviceConnection& connection() { return connection_; }
  const DeviceConnection& connection() const { return connection_; }
  DeviceSettings& settings() { return settings_; }

  // --- Identity (identity()) ------------------------------------------------------------------
  const json::DictionaryPtr& dictionary() const { return identity_.dictionary(); }
  const support::Bundle& bundle() const { return identity_.bundle(); }
  // Read from the description at each call: "Alias", "Balias", "Brand".
  std::string alias() const { return identity_.alias(); }
  std::string balias() const { return identity_.balias(); }
  std::string brand() const { return identity_.brand(); }
  // Read at construction: "Name", "Title", "CFBundleVersion".
  const std::string& name() const { return identity_.name(); }
  const std::string& title() const { return identity_.title(); }
  const std::string& softwareVersion() const { return identity_.softwareVersion(); }
  // "<Alias>-<TypeID>", e.g. "DemoMouse-1": the key of the device among all devices.
  const std::string& udid() const { return identity_.udid(); }
  std::int64_t vendorId() const { return identity_.vendorId(); }
  std::int64_t productId() const { return identity_.productId(); }
  std::uint16_t typeId() const { return identity_.typeId(); }
  // The menu image named by "MenuImage" in the bundle's resources, when that file exists
  // (the user interface loads it).
  const std::optional<std::filesystem::path>& imagePath() const { return identity_.imagePath(); }
  // "DemoMouse-1 (Zenvor Demo Mouse)", for log lines.
  std::string description() const { return identity_.description(); }

  // --- Driver (connection()) ------------------------------------------------------------------
  // The driver interface: nullptr until one is set (a description without product
  // identifier has none). Tools and tests set a recording driver.
  std::shared_ptr<DriverOperations> driverInterface() const {
    return connection_.driverInterface();
  }
  void setDriverInterface(std::shared_ptr<DriverOperations> driver) {
    connection_.setDriverInterface(std::move(driver));
  }
  // The driver interface when it is the link to the daemon (not a recording one).
  std::shared_ptr<DriverInterface> driver() const { return connection_.driver(); }
  // Every driver interface initialize() made, in order.
  std::vector<std::shared_ptr<DriverInterface>> driverInterfaces() const {
    return connection_.driverInterfaces();
  }
  // The driver interface's element map; empty without a driver interface.
  ElementMap elementMap() const { return connection_.elementMap(); }

  // --- Profile store --------------------------------------------------------------------------
  // The device's profile store; nullptr until one is set or made.
  std::shared_ptr<ProfileStoreInterface> profileStore() const;
  void setProfileStore(std::shared_ptr<ProfileStoreInterface> store);
  // Makes the store through the profile-store factory when there is none, and has it
  // created on disk when it does not exist there.
  void createProfileStore();

  // --- Connection -----------------------------------------------------------------------------
  bool connected() const { return connection_.connected(); }
  // Never set by the base class.
  bool connectComplete() const { return false; }
  // The delegate is held weakly. Setting it on a connected controller queues one "connect"
  // device event to it.
  void setDelegate(std::weak_ptr<DeviceControllerDelegate> delegate);
  std::shared_ptr<DeviceControllerDelegate> delegate() const;

  // From the driver interfaces (DriverInterfaceDelegate).
  void onConnect(DriverInterface& driver) override;
  void onDisconnect(DriverInterface& driver) override;
  void onElementEvent(std::uint32_t element, std::int32_t value, std::int32_t oldValue) override;

  // --- Battery (connection()) -----------------------------------------------------------------
  std::uint8_t batteryLevel() const { return connection_.batteryLevel(); }
  virtual int batteryState() const { return 0; }
  virtual int batteryPercentage() const { return 0; }
  // There is no batteryLifeYears in the base controller: the page script's
  // "GetBatteryLifeYears" fails on it.
  // Reads the battery level from the device (memory address 0xBA) into batteryLevel().
  void readBatteryStatus() { connection_.readBatteryStatus(); }
  // The battery timer's work.
  void monitorThreadFunc() { readBatteryStatus(); }
  // Schedules the battery timer on the main loop (once).
  void startMonitorThread();
  bool batteryTimerRunning() const { return connection_.batteryMonitorRunning(); }

  // --- Device operations (connection()) -------------------------------------------------------
  // The low 16 bits of the data word read from device memory at `address`; 0 without a
  // driver.
  std::uint16_t readFromDeviceMemory(std::int32_t address) {
    return connection_.readFromDeviceMemory(address);
  }
  void enterFirmwareMode() { connection_.enterFirmwareMode(); }
  // 200 ms from now, sends the feature report 0x01 0x01 (on the main loop, which stays free
  // meanwhile).
  void writeSettings();
  virtual void updateSettings() {}
  virtual void writeToDeviceMemory(std::int32_t /*address*/, std::int32_t /*value*/) {}
  virtual void resetToDefaults() {}
  virtual void saveToDictionary(json::Dictionary& /*dictionary*/) {}

  // --- Settings (settings()) ------------------------------------------------------------------
  // The integer under `key` in the store's settings; 0 when there is no store, no such key
  // or the value is not a number.
  std::int32_t getSetting(std::string_view key) const {
    return DeviceSettings::get(profileStore(), key);
  }
  // Stores the value under `key` and has the store write its settings.
  void setSetting(std::string_view key, std::int32_t value) {
    DeviceSettings::set(profileStore(), key, value);
  }

  // --- Controls of the seed profile, and the editor's page ------------------------------------
  // The first controller of the profile store's seed profile, loaded once; null without a
  // store or seed.
  std::shared_ptr<profile::ZVPrototypedObject> controllerDescription();
  // The controls of type "button" of controllerDescription(), computed once.
  std::vector<std::shared_ptr<profile::ZVPrototypedObject>> buttons();
  // controllerDescription() as JSON text; nothing without a profile store.
  std::optional<std::string> controlDescriptionJSON();
  virtual std::string editorJS() const { return {}; }
  std::string JS_GetVersion() const { return softwareVersion(); }
  std::string JS_GetName() const { return name(); }
  virtual void JS_OverrideElement(std::uint32_t /*element*/, bool /*enabled*/) {}

 protected:
  std::string text(std::string_view key) const { return identity_.text(key); }
  // The store's seed profile as the profile-store factory loads it (kept once loaded),
  // and its controller for this device; null without store or seed.
  std::shared_ptr<profile::ZVPrototypedObject> seedProfile();
  std::shared_ptr<profile::ZVPrototypedObject> seedCurrentController();

 private:
  void performDeviceEvent(const std::string& event);

  static std::atomic<bool> executive_;

  DeviceIdentity identity_;
  DeviceConnection connection_;
  DeviceSettings settings_;

  mutable std::mutex mutex_;
  std::shared_ptr<ProfileStoreInterface> profileStore_;
  std::weak_ptr<DeviceControllerDelegate> delegate_;

  std::shared_ptr<profile::ZVPrototypedObject> seedProfile_;
  std::shared_ptr<profile::ZVPrototypedObject> controllerDescription_;
  std::optional<std::vector<std::shared_ptr<profile::ZVPrototypedObject>>> buttons_;
};

}  // namespace zv::device
