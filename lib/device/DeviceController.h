// The object that stands for one supported device: made from one device description of a
// device bundle (its Info.plist "Devices" entry, with the bundle's defaults filled in),
// it names the device, owns its driver interfaces and its profile store, follows the
// device through connect and disconnect, turns driver events into the events profiles
// and user interfaces receive, polls the battery, keeps the device settings and offers
// the editor's page script a fixed set of operations. It also carries the process-wide
// flag that says whether this process runs profiles.
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
// to the interface, the battery timer starts (every 5 s on the main
// loop; it keeps running while disconnected), the delegate gets the device event
// "connect" (queued to the main loop) and then deviceConnected(true). A second connect
// while connected changes nothing; a disconnect from an interface that is not the
// current one is ignored.
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

// One operation the editor's page script may call, under its script name.
struct ScriptOperation {
  std::string_view scriptName;  // "GetBatteryLevel"
  std::string_view operation;   // "batteryLevel"
  int arguments;                // how many the script passes
};

class DeviceController : public DriverInterfaceDelegate,
                         public std::enable_shared_from_this<DeviceController> {
 public:
  // How often the battery is read while the timer runs.
  static constexpr std::chrono::seconds kBatteryInterval{5};
  // The memory address of the battery level.
  static constexpr std::int32_t kBatteryAddress = 0xBA;

  // `description` is kept as it is (shared, not copied). Missing integers read as 0 and
  // missing texts as "". When "VendorID" or "ProductID" is 0, the first entry of
  // "drivers" that has one supplies it.
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

  // --- Identity ---------------------------------------------------------------------------
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
  // The menu image named by "MenuImage" in the bundle's resources, when that file exists
  // (the user interface loads it).
  const std::optional<std::filesystem::path>& imagePath() const { return imagePath_; }

  // --- Driver -----------------------------------------------------------------------------
  // The driver interface: nullptr until one is set (a description without product
  // identifier has none). Tools and tests set a recording driver.
  std::shared_ptr<DriverOperations> driverInterface() const;
  void setDriverInterface(std::shared_ptr<DriverOperations> driver);
  // The driver interface when it is the link to the daemon (not a recording one).
  std::shared_ptr<DriverInterface> driver() const;
  // Every driver interface initialize() made, in order.
  std::vector<std::shared_ptr<DriverInterface>> driverInterfaces() const;
  // The driver interface's element map; empty without a driver interface.
  ElementMap elementMap() const;

  // --- Profile store ----------------------------------------------------------------------
  // The device's profile store; nullptr until one is set or made.
  std::shared_ptr<ProfileStoreInterface> profileStore() const;
  void setProfileStore(std::shared_ptr<ProfileStoreInterface> store);
  // Makes the store through the profile-store factory when there is none, and has it
  // created on disk when it does not exist there.
  void createProfileStore();

  // --- Connection -------------------------------------------------------------------------
  bool connected() const { return connected_.load(); }
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

  // --- Battery ----------------------------------------------------------------------------
  std::uint8_t batteryLevel() const { return batteryLevel_.load(); }
  virtual int batteryState() const { return 0; }
  virtual int batteryPercentage() const { return 0; }
  // Reads the battery level from the device (memory address 0xBA) into batteryLevel().
  void readBatteryStatus();
  // The battery timer's work.
  void monitorThreadFunc();
  // Schedules the battery timer on the main loop (once).
  void startMonitorThread();
  bool batteryTimerRunning() const;

  // --- Device operations ------------------------------------------------------------------
  // The low 16 bits of the data word read from device memory at `address`; 0 without a
  // driver.
  std::uint16_t readFromDeviceMemory(std::int32_t address);
  void enterFirmwareMode();
  // 200 ms from now, sends the feature report 0x01 0x01 (on the main loop, which stays free
  // meanwhile).
  void writeSettings();
  virtual void updateSettings() {}
  virtual void writeToDeviceMemory(std::int32_t /*address*/, std::int32_t /*value*/) {}
  virtual void resetToDefaults() {}
  virtual void saveToDictionary(json::Dictionary& /*dictionary*/) {}

  // --- Settings ---------------------------------------------------------------------------
  // The integer under `key` in the store's settings; 0 when there is no store, no such key
  // or the value is not a number.
  std::int32_t getSetting(std::string_view key) const;
  // Stores the value under `key` and has the store write its settings.
  void setSetting(std::string_view key, std::int32_t value);
  // Plain stored values, 0 at creation; neither persisted nor sent to the device here.
  std::int32_t pollingRate = 0;
  std::uint8_t ledOffTimer = 0;
  bool dpiLock = false;
  std::int32_t powerSavingMode = 0;

  // --- Editor -----------------------------------------------------------------------------
  // The first controller of the profile store's seed profile, loaded once; null without a
  // store or seed.
  std::shared_ptr<profile::ZVPrototypedObject> controllerDescription();
  // The controls of type "button" of controllerDescription(), computed once.
  std::vector<std::shared_ptr<profile::ZVPrototypedObject>> buttons();
  // controllerDescription() as JSON text; nothing without a profile store.
  std::optional<std::string> controlDescriptionJSON();
  virtual std::string editorJS() const { return {}; }
  std::string JS_GetVersion() const { return softwareVersion_; }
  std::string JS_GetName() const { return name_; }
  virtual void JS_OverrideElement(std::uint32_t /*element*/, bool /*enabled*/) {}

  // The operations visible to the editor's page script, with their script names. Every
  // other operation is hidden from the script.
  static std::span<const ScriptOperation> scriptOperations();
  // Runs the operation of a script name with the script's arguments and answers its
  // result (null for operations without one). Nothing when the name is not in the table,
  // the operation does not exist on this controller ("GetBatteryLifeYears" on the base
  // class) or the arguments do not fit: the script call fails.
  virtual std::optional<json::Value> callScriptOperation(std::string_view scriptName,
                                                         std::span<const json::Value> arguments);

  // "DemoMouse-1 (Zenvor Demo Mouse)", for log lines.
  std::string description() const;

 protected:
  std::string text(std::string_view key) const;
  // The store's seed profile as the profile-store factory loads it (kept once loaded),
  // and its controller for this device; null without store or seed.
  std::shared_ptr<profile::ZVPrototypedObject> seedProfile();
  std::shared_ptr<profile::ZVPrototypedObject> seedCurrentController();

 private:
  void performDeviceEvent(const std::string& event);
  void sendControlRequest(userclient::ZVControlRequest& request);

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
  std::optional<std::filesystem::path> imagePath_;

  mutable std::mutex mutex_;
  std::shared_ptr<DriverOperations> driver_;
  std::vector<std::shared_ptr<DriverInterface>> interfaces_;
  std::shared_ptr<ProfileStoreInterface> profileStore_;
  std::weak_ptr<DeviceControllerDelegate> delegate_;

  std::atomic<bool> connected_{false};
  std::atomic<std::uint8_t> batteryLevel_{0};
  platform::RunLoop::TimerId batteryTimer_ = 0;  // main thread only
  std::shared_ptr<profile::ZVPrototypedObject> seedProfile_;
  std::shared_ptr<profile::ZVPrototypedObject> controllerDescription_;
  std::optional<std::vector<std::shared_ptr<profile::ZVPrototypedObject>>> buttons_;
};

}  // namespace zv::device
