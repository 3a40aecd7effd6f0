// The HID manager on Linux: lists the hidraw nodes through libudev and follows their
// arrival and removal through a udev monitor watched on the run loop.
//
// A device's vendor and product come from its HID parent's "HID_ID", its primary usage
// from the report descriptor in sysfs (HidPrimaryUsage.h). Devices presented through
// /dev/uhid are never matched: the driver daemon presents the rewritten mouse that way,
// under the real mouse's identifiers, and matching it would connect the mouse to itself.
//
// One hidraw node is one HidDevice object in the whole process, however many managers
// report it, so that a device matched by one manager and removed by another is
// recognised as the same.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/HidManager.h"
#include "platform/RunLoop.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace zv::platform {

class LinuxHidDevice;

class LinuxHidManager : public HidManager {
 public:
  LinuxHidManager();
  ~LinuxHidManager() override;

  void setDeviceMatchingCallback(DeviceCallback callback) override;
  void setDeviceRemovalCallback(DeviceCallback callback) override;
  base::Result<void> scheduleWithRunLoop(RunLoop& loop) override;
  void unscheduleFromRunLoop() override;
  std::vector<HidDeviceRef> devices() const override;
  std::string limitation() const override { return limitation_; }

 private:
  void receiveFromMonitor();
  void added(udev_device* hidraw);
  void removed(const std::string& syspath);

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  RunLoop* loop_ = nullptr;
  RunLoop::WatchId watch_ = 0;
  DeviceCallback matching_;
  DeviceCallback removal_;
  std::string limitation_;
  // Matched devices by hidraw syspath, and their matching order.
  std::map<std::string, HidDeviceRef> devices_;
  std::vector<std::string> order_;
  // Lets tasks posted to the loop notice that the manager has gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zv::platform
