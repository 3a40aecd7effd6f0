// The user-space end of one device's link to the driver daemon. A driver interface waits
// for its device (vendor and product identifiers) to be matched by the HID manager,
// then opens the daemon's user client, receives the device's element events and hands
// them to its delegate (a DeviceController) in profile numbering, and offers the device
// operations that profiles, actions and the editor use.
//
// Connecting, in order: the HID manager matches the device (DriverSets.h); one second
// later (DriverTiming::matchDelay) setHIDDevice() opens the user client of the first
// service of the interface's class, registers for element events, and a tenth of a
// second later (registerDelay) re-sends the remembered overrides, opens the HID device
// for input reports, sends the connect output report and tells the delegate onConnect.
// The waits are run-loop timers, never a blocked thread. While the daemon's socket is
// not there yet (udev starts the daemon as the mouse appears) the connect is tried again
// every retryInterval, connectAttempts times at most, and a log line says when it gives
// up. A daemon that goes away disconnects the interface, which then reconnects the same
// way while the device is present.
//
// Element events: the element is translated from device to profile numbering through
// the bundle's "ElementRemapping"; the X, Y and Z axes are scaled from their 16-bit range
// to a percentage; an event whose value equals the last one delivered for the element
// since the connect is dropped.
//
// Threads: creation, matching, connecting, element events and delegate calls belong to
// the main run loop (RunLoop::main()). The device operations and elementMap() may be
// called from any thread (command threads force mouse buttons); each is one synchronous
// call to the daemon. Calls made while no daemon connection is open do nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/DriverOperations.h"
#include "json/Value.h"
#include "platform/HidManager.h"
#include "protocol/UserClientProtocol.h"

namespace zv::device {

class DriverInterface;
class DaemonConnection;

// What a driver interface tells its owner, on the main run loop. Every operation is
// optional.
class DriverInterfaceDelegate {
 public:
  virtual ~DriverInterfaceDelegate() = default;
  virtual void onConnect(DriverInterface& /*driver*/) {}
  virtual void onDisconnect(DriverInterface& /*driver*/) {}
  virtual void onElementEvent(std::uint32_t /*element*/, std::int32_t /*value*/,
                              std::int32_t /*oldValue*/) {}
  virtual void onInputReport(std::span<const std::uint8_t> /*report*/) {}
};

// The waits of connecting. Tests and tools shorten them; the defaults are the device's.
struct DriverTiming {
  // From the device being matched to connecting its interfaces.
  std::chrono::milliseconds matchDelay{1000};
  // From registering for element events to the rest of the connect.
  std::chrono::milliseconds registerDelay{100};
  // Between attempts to reach a daemon whose socket is not there (yet).
  std::chrono::milliseconds retryInterval{500};
  // Attempts before giving up (the first included).
  int connectAttempts = 20;
};

class DriverInterface : public DriverOperations,
                        public std::enable_shared_from_this<DriverInterface> {
 public:
  // The service class looked for when a description names none, and the one of
  // interfaces made without a type.
  static constexpr std::string_view kDefaultInterfaceName = "com_Zenvor_driver_Brisk";
  static constexpr std::string_view kHIDDeviceInterfaceName = "com_Zenvor_HIDDevice";
  // The report every connect sends to the device (report ID 0).
  static constexpr std::uint8_t kConnectReport[11] = {0x00, 0xFF, 0xF1, 0x03, 0x00, 0x00,
                                                      0x00, 0x00, 0x00, 0x00, 0x00};
  // Input reports and feature reads are limited to this many bytes.
  static constexpr std::size_t kReportBufferSize = 64;

  // Makes an interface for the device and registers it (RegisterDriver): when the device
  // is already present, the interface connects at once. `interfaceName` empty: the
  // default. `delegate` may be null; it must outlive the interface or be cleared first.
  static std::shared_ptr<DriverInterface> create(std::int64_t vendorId, std::int64_t productId,
                                                 std::uint32_t typeId,
                                                 DriverInterfaceDelegate* delegate,
                                                 std::string_view interfaceName = {});
  // The same without type and remapping, for the service class kHIDDeviceInterfaceName.
  static std::shared_ptr<DriverInterface> create(std::int64_t vendorId, std::int64_t productId,
                                                 DriverInterfaceDelegate* delegate);
  ~DriverInterface() override;
  DriverInterface(const DriverInterface&) = delete;
  DriverInterface& operator=(const DriverInterface&) = delete;

  // Process-wide timing of connects (see DriverTiming); read when a wait starts.
  static DriverTiming timing();
  static void setTiming(const DriverTiming& timing);

  void setDelegate(DriverInterfaceDelegate* delegate);

  // The bundle's "ElementRemapping": keys are decimal texts (profile numbering), values
  // numbers (device numbering). Both maps are replaced; entries of another form are
  // skipped.
  void setElementRemapping(const json::Dictionary& remapping);
  // The element in device numbering (unchanged when not remapped), and back.
  std::uint32_t toDevice(std::uint32_t element) const;
  std::uint32_t fromDevice(std::uint32_t element) const;

  // Connects to `device` (see above), or disconnects when it is null: the element map is
  // emptied, the delegate hears onDisconnect and the user client is closed. Connecting
  // while connected, and disconnecting while not, do nothing. On the main loop.
  void setHIDDevice(platform::HidDeviceRef device);
  // Connects to `device`, trying again while the daemon's socket is not there, as long as
  // the device stays matched for this interface's identifiers (see DriverTiming).
  void connectWithRetry(platform::HidDeviceRef device, int attemptsLeft = -1);
  // Opens the user client of the first service of driverInterfaceName() in the services
  // folder, preferring the one that serves this device's hidraw node. Answers whether a
  // connection was made (also kept as loaded()).
  bool openZVDriverConnection();

  // One element event as the daemon reports it: ignored unless `count` is 6; else
  // argument 0 is the element and argument 1 its value.
  void elementNotificationCallback(std::uint64_t reference, std::uint32_t result,
                                   const std::uint64_t* arguments, std::uint32_t count);
  // Translates, scales and filters one element event and passes it on (see above).
  void onElementEvent(std::uint32_t element, std::int32_t value, std::int32_t oldValue = 0);
  // 16 for the X, Y and Z axes, else 1.
  static int elementSize(std::uint32_t element);

  // --- Device operations (user-client methods) -------------------------------------------
  // Remembered while enabled (in device numbering) and re-sent after every connect, so a
  // re-plugged mouse keeps its reprogrammed buttons suppressed.
  void overrideElement(std::uint32_t element, bool enabled) override;
  bool setExclusive(bool exclusive);
  bool setPrecisionAim(std::uint64_t value, std::uint64_t button);
  bool setXCPI(std::uint64_t x, std::uint64_t y, std::uint64_t mode);
  // Sends the element's low 16 bits, untranslated.
  bool useHIDElement(std::uint32_t element, int axis);
  void setMouseAxis(std::uint32_t element, int axis) override;
  bool setMouseAxisSensitivity(std::int64_t value, int axis);
  // Untranslated.
  bool setHatElement(std::uint32_t element);
  // The low byte of the daemon's answer; 0 without a connection.
  std::uint8_t getFeatureByte(std::uint8_t reportId);
  void setButtonStates(std::uint64_t buttons) override;
  // Fills `info` from the daemon; true also when there is no connection (then `info`
  // stays as it was).
  bool deviceInfo(userclient::ZVDeviceInfo& info);
  // Carries the request out through the daemon; a device-to-host request's answer lands
  // in request.data. Always true; without an answer the record is left as it was.
  bool sendControlRequest(userclient::ZVControlRequest& request);
  // The low 16 bits of the data word of a "read device memory" request (request type
  // 0xC0, request 0x90, index = address, length 2).
  std::uint16_t readFromDeviceMemory(std::int32_t address);

  // --- Reports straight to the HID device ---------------------------------------------------
  // An output report with report ID 0, sent from the main loop; only while connected.
  bool setReport(std::span<const std::uint8_t> bytes);
  // A feature report whose ID is the first byte, sent at once. False when there is no
  // open device or it refuses.
  bool setFeature(std::span<const std::uint8_t> bytes);
  // Reads the feature report whose ID is buffer[0]: at most min(length, 64) bytes. On
  // return `length` is the number of bytes placed in `buffer` (0 when the read failed).
  bool getFeature(std::span<std::uint8_t> buffer, std::size_t& length);

  // --- State -----------------------------------------------------------------------------
  std::int64_t vendorId() const { return vendorId_; }
  std::int64_t productId() const { return productId_; }
  std::uint32_t typeId() const { return typeId_; }
  int getDeviceType() const { return 0; }
  const std::string& driverInterfaceName() const { return interfaceName_; }
  platform::HidDeviceRef hidDevice() const;
  bool loaded() const;
  bool connected() const;
  ElementMap elementMap() const override;
  // The elements re-overridden after a connect, in device numbering.
  std::set<std::uint32_t> overrideDictionary() const;
  // The socket of the open user client; empty while not connected.
  std::string servicePath() const;
  // Why the last attempt to reach the daemon failed; empty after a success.
  std::string lastFailure() const;
  // "DriverInterface 5a56:1704 com_Zenvor_driver_usb_Skarn", for log lines.
  std::string description() const;

 private:
  DriverInterface(std::int64_t vendorId, std::int64_t productId, std::uint32_t typeId,
                  DriverInterfaceDelegate* delegate, std::string interfaceName);

  std::optional<userclient::Reply> callDriver(std::uint32_t method,
                                              const std::vector<std::uint64_t>& scalars,
                                              const std::vector<std::uint8_t>& structure = {},
                                              std::uint32_t scalarsOut = 0,
                                              std::uint32_t structOut = 0);
  bool openConnection(const platform::HidDeviceRef& device);
  void finishConnect(std::uint64_t generation);
  void connectionEnded(std::uint64_t generation);
  void onInputReport(std::span<const std::uint8_t> report);
  // The services of driverInterfaceName(), the preferred one first.
  std::vector<std::string> servicePaths(const platform::HidDeviceRef& device) const;

  const std::int64_t vendorId_;
  const std::int64_t productId_;
  const std::uint32_t typeId_;
  const std::string interfaceName_;
  std::atomic<DriverInterfaceDelegate*> delegate_;

  mutable std::mutex mutex_;
  std::map<std::uint32_t, std::uint32_t> remapToDevice_;
  std::map<std::uint32_t, std::uint32_t> remapFromDevice_;
  std::set<std::uint32_t> overrides_;
  ElementMap elementMap_;
  platform::HidDeviceRef hidDevice_;
  std::shared_ptr<DaemonConnection> client_;
  // A connection being made: opened by openZVDriverConnection(), taken by setHIDDevice().
  std::shared_ptr<DaemonConnection> opened_;
  bool loaded_ = false;
  bool connected_ = false;
  // Counts connects and disconnects, so that a wait that outlived its connect does nothing.
  std::uint64_t generation_ = 0;
  std::string lastFailure_;
  // The current chain of connect attempts; an older chain's timer stops. Main loop only.
  std::uint64_t retryChain_ = 0;
};

}  // namespace zv::device
