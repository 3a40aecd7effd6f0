// One mouse's driver: reads the real mouse's reports from hidraw, passes each through the
// report pipeline and presents the rewritten mouse through uhid, while the real mouse's
// event nodes are grabbed away from the desktop. It also carries out what user clients ask
// of the device (UserClientServer and MethodDispatch call it).
//
// The two transports differ only in a few operations, so each is a small subclass named as
// the library looks the service up: com_Zenvor_driver_usb_Skarn, com_Zenvor_driver_bt_Skarn.
//
//   hidraw ──read──▶ ReportPipeline (rewrites in place) ──UHID_INPUT2──▶ system
//                         │ element events ──▶ user clients (never blocks)
//                         └ mouse reporter thread ──synthetic pointer reports──▶ uhid
//
// Thread affinity: everything runs on the loop's thread except the mouse reporter (its
// pointer reports go straight to uhid, which is thread-safe) and device requests, which run
// on the DeviceWorker and come back to the loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/ReportPipeline.h"
#include "daemon/DeviceWorker.h"
#include "daemon/EventLoop.h"
#include "daemon/HidrawDevice.h"
#include "daemon/InputGrab.h"
#include "daemon/UhidDevice.h"
#include "daemon/UsbControl.h"
#include "protocol/UserClientProtocol.h"

namespace zv::driver {

struct DriverBackends {
  HidrawDevice* hidraw = nullptr;  // required
  UhidDevice* uhid = nullptr;      // required
  InputGrab* grab = nullptr;       // none: nothing to grab (the simulated device)
  std::vector<std::string> evdevNodes;
  UsbControl* usb = nullptr;  // none: control requests answer kReturnNotAttached (USB)
};

// Threads or none: tests, the fuzzer and the benchmark may run the mouse reporter on a
// manual clock and device requests inline.
struct DriverModes {
  ZVMouseReporter::Mode reporter = ZVMouseReporter::Mode::thread;
  DeviceWorker::Mode worker = DeviceWorker::Mode::thread;
};

class ZenvorDriver {
 public:
  // Sees each report as read and as passed on (the simulated device prints them). Loop thread.
  using ReportObserver =
      std::function<void(std::span<const std::uint8_t> raw, std::span<const std::uint8_t> out)>;
  // Sees each synthetic pointer report. Mouse reporter thread or loop thread.
  using PointerObserver = std::function<void(std::span<const std::uint8_t> report)>;

  ZenvorDriver(EventLoop& loop, DriverBackends backends, DriverModes modes = {});
  virtual ~ZenvorDriver();
  ZenvorDriver(const ZenvorDriver&) = delete;
  ZenvorDriver& operator=(const ZenvorDriver&) = delete;

  // "com_Zenvor_driver_usb_Skarn" or "com_Zenvor_driver_bt_Skarn".
  virtual std::string_view className() const = 0;

  // Builds the report path from the device's descriptor, reads the device's type word (our
  // products only), creates the rewritten mouse with the presented mark
  // (protocol/PresentedMouse.h), grabs the real one's event nodes and starts reading
  // reports. Logs the load message whatever the outcome. Answers false, with *error, when
  // the rewritten mouse cannot be created (nothing is grabbed then).
  bool start(std::string* error);

  // Stops reading, stops the mouse reporter, removes the rewritten mouse, lets go of the
  // grab and logs the unload message. Clients must have been removed before (the server
  // closes them). Idempotent; the destructor calls it.
  void stop();
  bool running() const { return running_; }

  // Called once, on the loop, when the device is gone (a hidraw read failed or ended).
  void setUnplugHandler(std::function<void()> handler) { unplugHandler_ = std::move(handler); }
  void setReportObserver(ReportObserver observer) { reportObserver_ = std::move(observer); }
  // Set before start().
  void setPointerObserver(PointerObserver observer) { pointerObserver_ = std::move(observer); }

  // Null before start() and after stop(), or when the descriptor could not be parsed.
  ZVReportHandler* reportHandler() { return pipeline_ ? pipeline_->reportHandler() : nullptr; }
  ReportPipeline* pipeline() { return pipeline_.get(); }
  const HidDeviceIdentity& identity() const { return backends_.hidraw->identity(); }

  // ---- What user clients reach (loop thread) ----

  // Hands the client to the report handler (which offers it the held overridden elements);
  // removal also clears it as exclusive interface. Both do nothing without a handler.
  void addUserClient(ZVUserClient* client);
  void removeUserClient(ZVUserClient* client);

  // Vendor and product as the device reports them, and its type word (read at start).
  userclient::ZVDeviceInfo getDeviceInfo() const;

  // Carries out a control request on the device worker; `done` runs on the loop with the
  // return code and the data word. Device-to-host requests for anyone allowed to connect;
  // host-to-device ones only when `privileged` (a root peer). At most 8 data bytes (the data
  // word): longer requests answer kReturnBadArgument.
  using ControlDone = std::function<void(std::uint32_t code, std::uint64_t data)>;
  void controlRequest(const userclient::ZVControlRequest& request, bool privileged,
                      ControlDone done);

  // Reads feature report `reportID` (8 bytes offered, zeroed first) on the device worker;
  // `done` gets byte 1 of it, 0 when the report is shorter than two bytes, and the return
  // code (kReturnError when the device did not answer).
  using FeatureDone = std::function<void(std::uint32_t code, std::uint8_t byte)>;
  void getFeatureByte(std::uint8_t reportID, FeatureDone done);

  // Logs "set mosue axis %d" (so spelled) and assigns the axis.
  void setMouseAxis(std::uint32_t element, std::uint32_t axis);

 protected:
  // Worker thread. USB: the transfer; Bluetooth: nothing (the data word stays as given).
  virtual std::uint32_t performControlRequest(userclient::ZVControlRequest& request) = 0;
  // The device's own type word; Bluetooth: 0. Called once by start(), for products with a
  // configuration; any other mouse has type word 0.
  virtual std::uint32_t getDeviceTypeID() = 0;
  virtual const char* loadMessage() const = 0;
  virtual const char* unloadMessage() const = 0;

  UsbControl* usb() const { return backends_.usb; }

 private:
  void onHidrawReadable();
  void onUhidReadable();
  void handleUhidRequest(UhidRequest request);
  void sendPointerReport(const std::uint8_t* report, std::size_t length);
  void deviceGone(const char* why);
  // Submits a job to the worker. The job gets a `post` that runs a task on the loop unless
  // the driver has stopped meanwhile.
  using Post = std::function<void(std::function<void()>)>;
  void submit(std::function<void(const Post& post)> job);

  EventLoop& loop_;
  DriverBackends backends_;
  const DriverModes modes_;
  std::unique_ptr<ReportPipeline> pipeline_;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> rawCopy_;
  bool started_ = false;
  bool running_ = false;
  bool uhidCreated_ = false;
  std::uint32_t typeID_ = 0;
  std::uint64_t inputFailures_ = 0;
  std::function<void()> unplugHandler_;
  ReportObserver reportObserver_;
  PointerObserver pointerObserver_;
  // Results of worker jobs hold a weak reference: they are dropped once the driver stopped.
  std::shared_ptr<bool> alive_;
  // Joined first by stop(): no job runs once the driver stops.
  std::unique_ptr<DeviceWorker> worker_;
};

// USB: control requests go to the USB device; the type word is read from device memory.
class com_Zenvor_driver_usb_Skarn : public ZenvorDriver {
 public:
  using ZenvorDriver::ZenvorDriver;
  ~com_Zenvor_driver_usb_Skarn() override { stop(); }
  std::string_view className() const override { return userclient::kUsbDriverClass; }

 protected:
  std::uint32_t performControlRequest(userclient::ZVControlRequest& request) override;
  std::uint32_t getDeviceTypeID() override;
  const char* loadMessage() const override { return "Skarn USB driver v1.10 loaded\n"; }
  const char* unloadMessage() const override { return "Skarn USB driver vX.10 unloaded\n"; }
};

// Bluetooth: no control requests; type word 0.
class com_Zenvor_driver_bt_Skarn : public ZenvorDriver {
 public:
  using ZenvorDriver::ZenvorDriver;
  ~com_Zenvor_driver_bt_Skarn() override { stop(); }
  std::string_view className() const override { return userclient::kBluetoothDriverClass; }

 protected:
  std::uint32_t performControlRequest(userclient::ZVControlRequest&) override {
    return userclient::kReturnSuccess;
  }
  std::uint32_t getDeviceTypeID() override { return 0; }
  const char* loadMessage() const override { return "Skarn BT driver vX.10 loaded\n"; }
  const char* unloadMessage() const override { return "Skarn BT driver v1.10 unloaded\n"; }
};

// Whether a HID interface is one the driver serves: one of its top-level collections is a
// mouse, a pointer or a game pad (Generic Desktop 2, 1 or 5), so a receiver whose keyboard
// comes first is served too; also when the descriptor cannot be parsed (its reports then
// pass unchanged). The other interfaces of a device (keyboard, vendor reports) are left
// alone; *why says what they are.
bool drivesInterface(std::span<const std::uint8_t> descriptor, std::string* why);

// The class for the device's bus: Bluetooth for kBusBluetooth, USB for anything else.
std::unique_ptr<ZenvorDriver> makeDriver(std::uint16_t bus, EventLoop& loop,
                                         DriverBackends backends, DriverModes modes = {});

}  // namespace zv::driver
