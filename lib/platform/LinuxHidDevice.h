// One hidraw node (/dev/hidrawN) as an HidDevice: properties gathered by the Linux HID
// manager from sysfs, reports through read(), write() and the HIDIOC feature ioctls.
// Input reports are read on the run loop the device was made for.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/HidManager.h"
#include "platform/HidPrimaryUsage.h"
#include "platform/HidSysfs.h"
#include "platform/RunLoop.h"

namespace zv::platform {

class LinuxHidDevice : public HidDevice {
 public:
  struct Info {
    std::string devnode;  // "/dev/hidraw3"
    std::string syspath;  // of the hidraw node, the key of the device while it is present
    HidId id;
    std::optional<HidUsage> usage;
    std::string product;  // HID_NAME
  };

  LinuxHidDevice(Info info, RunLoop& loop);
  ~LinuxHidDevice() override;

  const Info& info() const { return info_; }

  HidProperty property(std::string_view key) const override;
  std::string path() const override { return info_.devnode; }
  base::Result<void> open() override;
  void close() override;
  bool isOpen() const override;
  void setInputReportHandler(InputReportHandler handler) override;
  base::Result<void> setReport(HidReportType type, std::uint8_t reportId,
                               std::span<const std::uint8_t> report) override;
  base::Result<std::size_t> getReport(HidReportType type, std::uint8_t reportId,
                                      std::span<std::uint8_t> buffer) override;

 private:
  void readReports();

  const Info info_;
  RunLoop& loop_;
  mutable std::mutex mutex_;  // guards fd_ against reports sent from other threads
  int fd_ = -1;
  RunLoop::WatchId watch_ = 0;
  InputReportHandler handler_;
};

}  // namespace zv::platform
