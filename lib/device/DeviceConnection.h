// A device controller's link to its device: the driver interfaces made from the
// description (one for its own "ProductID", one per "drivers" entry; the last becomes the
// current one), the element remapping handed to them, the connected flag, the device
// memory reads and control requests, the settings report, and the battery monitor (a
// 5-second timer on the main loop that reads the battery level, running from the first
// connect on, also while disconnected).
//
// Threads: made, connected and its timer started on the main thread. driverInterface(),
// elementMap(), connected() and batteryLevel() may be called from any thread (command
// threads send button states through the driver interface).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "device/DeviceIdentity.h"
#include "device/DriverInterface.h"
#include "device/DriverOperations.h"
#include "platform/RunLoop.h"

namespace zv::device {

class DeviceConnection {
 public:
  // How often the battery is read while the monitor runs.
  static constexpr std::chrono::seconds kBatteryInterval{5};
  // The memory address of the battery level.
  static constexpr std::int32_t kBatteryAddress = 0xBA;

  DeviceConnection() = default;
  ~DeviceConnection();
  DeviceConnection(const DeviceConnection&) = delete;
  DeviceConnection& operator=(const DeviceConnection&) = delete;

  // Makes the driver interfaces of `identity`'s description, each reporting to
  // `delegate`; every "drivers" entry's interface gets the "ElementRemapping".
  void makeInterfaces(const DeviceIdentity& identity, DriverInterfaceDelegate* delegate);
  // The interfaces stop reporting (their owner is going away).
  void detachInterfaces();

  // The current driver interface: nullptr until one is set (a description without product
  // identifier has none). Tools and tests set a recording driver.
  std::shared_ptr<DriverOperations> driverInterface() const;
  void setDriverInterface(std::shared_ptr<DriverOperations> driver);
  // The current one when it is the link to the daemon (not a recording one).
  std::shared_ptr<DriverInterface> driver() const;
  std::vector<std::shared_ptr<DriverInterface>> driverInterfaces() const;
  ElementMap elementMap() const;

  bool connected() const { return connected_.load(); }
  // `connecting` becomes the current interface and gets the description's element
  // remapping. False, changing nothing, when already connected.
  bool connect(DriverInterface& connecting, const DeviceIdentity& identity);
  // False, changing nothing, when `disconnecting` is not the current interface or nothing
  // is connected.
  bool disconnect(DriverInterface& disconnecting);

  // --- Device operations (through the current daemon interface; nothing without one) ---
  std::uint8_t batteryLevel() const { return batteryLevel_.load(); }
  void readBatteryStatus();
  // The low 16 bits of the data word read from device memory at `address`; 0 without a
  // driver.
  std::uint16_t readFromDeviceMemory(std::int32_t address);
  void enterFirmwareMode();
  // Sends the settings feature report 0x01 0x01 now.
  void sendSettingsReport();

  // --- Battery monitor ---
  // Schedules `tick` every kBatteryInterval on the main loop (once; later calls do
  // nothing). Main thread.
  void startBatteryMonitor(std::function<void()> tick);
  bool batteryMonitorRunning() const { return batteryTimer_ != 0; }

 private:
  void sendControlRequest(userclient::ZVControlRequest& request);

  mutable std::mutex mutex_;
  std::shared_ptr<DriverOperations> driver_;
  std::vector<std::shared_ptr<DriverInterface>> interfaces_;
  std::atomic<bool> connected_{false};
  std::atomic<std::uint8_t> batteryLevel_{0};
  platform::RunLoop::TimerId batteryTimer_ = 0;  // main thread only
};

}  // namespace zv::device
