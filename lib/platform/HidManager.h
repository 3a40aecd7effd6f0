// The user-space HID manager: finds the HID devices of the system as they come and go and
// gives access to their properties and reports. On Linux every device is a hidraw node
// (LinuxHidManager.h); tests install a fake through setHidManagerFactory().
//
// Report conventions follow the platform HID manager the suite was designed against, so
// that callers pass the same bytes on every system:
//   - setReport() with report ID 0 sends the bytes as they are (a device without numbered
//     reports); with another ID the bytes begin with that ID.
//   - getReport() fills the buffer the same way: a numbered report begins with its ID, a
//     report ID 0 answers the report's bytes alone.
//   - input reports reach the handler as the device sends them (a numbered report begins
//     with its ID).
//
// Threads: a manager and its devices belong to the run loop the manager is scheduled on.
// Callbacks (matching, removal, input reports) run on that loop's thread; call open(),
// close() and the handler setters there too. setReport() and getReport() may be called
// from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/Result.h"

namespace zv::platform {

class RunLoop;

// Property keys every device answers (when it knows the value).
inline constexpr std::string_view kHidVendorIDKey = "VendorID";                  // number
inline constexpr std::string_view kHidProductIDKey = "ProductID";                // number
inline constexpr std::string_view kHidPrimaryUsagePageKey = "PrimaryUsagePage";  // number
inline constexpr std::string_view kHidPrimaryUsageKey = "PrimaryUsage";          // number
inline constexpr std::string_view kHidProductKey = "Product";                    // text
inline constexpr std::string_view kHidTransportKey = "Transport";  // text: "USB", "Bluetooth"…

// A property value: absent, a number or a text.
using HidProperty = std::variant<std::monostate, std::int64_t, std::string>;

enum class HidReportType : std::uint8_t { Input, Output, Feature };

class HidDevice {
 public:
  using InputReportHandler = std::function<void(std::span<const std::uint8_t> report)>;

  virtual ~HidDevice() = default;

  // The value of a property; std::monostate when the device does not have it.
  virtual HidProperty property(std::string_view key) const = 0;
  // Where the device lives ("/dev/hidraw3"); names the device in messages.
  virtual std::string path() const = 0;

  // Opens the device for reports. A failure with a message a user can act on when the
  // node cannot be opened (commonly: no permission). Opening an open device succeeds.
  virtual base::Result<void> open() = 0;
  // Stops report delivery and closes the device. Harmless when not open.
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // Input reports of an open device go to `handler`, one call per report, on the loop's
  // thread. An empty handler drops them.
  virtual void setInputReportHandler(InputReportHandler handler) = 0;

  // Sends an output or feature report (see the conventions above). A failure saying why
  // when the device is not open or refuses it.
  virtual base::Result<void> setReport(HidReportType type, std::uint8_t reportId,
                                       std::span<const std::uint8_t> report) = 0;
  // Reads a feature (or input) report into `buffer` and answers the number of bytes
  // placed there, or a failure saying why.
  virtual base::Result<std::size_t> getReport(HidReportType type, std::uint8_t reportId,
                                              std::span<std::uint8_t> buffer) = 0;
};

using HidDeviceRef = std::shared_ptr<HidDevice>;

class HidManager {
 public:
  using DeviceCallback = std::function<void(const HidDeviceRef& device)>;

  virtual ~HidManager() = default;

  // Called for every device the manager finds: first those present when it is scheduled,
  // then each arrival. A device reported twice by the system is matched once.
  virtual void setDeviceMatchingCallback(DeviceCallback callback) = 0;
  // Called when a matched device goes away, with the same reference it was matched with.
  virtual void setDeviceRemovalCallback(DeviceCallback callback) = 0;

  // Starts finding devices on `loop`. The devices already present are reported from the
  // loop's next dispatch, never from inside this call. A failure saying why when the
  // system's device list cannot be read at all; a manager that can list devices but not
  // follow arrivals succeeds and says why in limitation(). Scheduling again on the same
  // loop does nothing.
  virtual base::Result<void> scheduleWithRunLoop(RunLoop& loop) = 0;
  // Why the scheduled manager cannot follow arrivals and removals, in words for a user;
  // empty when it can.
  virtual std::string limitation() const { return {}; }
  // Stops reporting; the devices matched so far stay valid.
  virtual void unscheduleFromRunLoop() = 0;

  // The devices matched and not yet removed, in the order they were matched.
  virtual std::vector<HidDeviceRef> devices() const = 0;
};

// Makes the process's HID managers: the Linux one unless a factory is set.
using HidManagerFactory = std::function<std::unique_ptr<HidManager>()>;
std::unique_ptr<HidManager> createHidManager();
// Answers the factory set before; an empty factory restores the Linux one. Tests set a
// fake here before anything starts matching.
HidManagerFactory setHidManagerFactory(HidManagerFactory factory);

}  // namespace zv::platform
