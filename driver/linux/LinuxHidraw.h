// /dev/hidrawN: reports by read(), feature reports by HIDIOCGFEATURE/HIDIOCSFEATURE,
// output reports by write(), the descriptor by HIDIOCGRDESC and the IDs by HIDIOCGRAWINFO.
#pragma once

#include <memory>
#include <string>

#include "daemon/HidrawDevice.h"

namespace zv::driver {

class LinuxHidraw : public HidrawDevice {
 public:
  // Opens the node read-write and non-blocking and reads its descriptor and identity.
  // `version` is the device's release number, which hidraw does not tell (the caller finds
  // it in sysfs). Nothing, with *error, when the node cannot be opened or is not hidraw.
  static std::unique_ptr<LinuxHidraw> open(const std::string& path, std::uint32_t version,
                                           std::string* error);
  ~LinuxHidraw() override;

  int fd() const override { return fd_; }
  ssize_t readReport(std::span<std::uint8_t> buffer) override;
  const HidDeviceIdentity& identity() const override { return identity_; }
  const std::vector<std::uint8_t>& descriptor() const override { return descriptor_; }
  int getFeature(std::span<std::uint8_t> buffer) override;
  int setFeature(std::span<const std::uint8_t> data) override;
  int writeOutput(std::span<const std::uint8_t> data) override;

 private:
  explicit LinuxHidraw(int fd) : fd_(fd) {}
  int fd_;
  HidDeviceIdentity identity_;
  std::vector<std::uint8_t> descriptor_;
};

}  // namespace zv::driver
