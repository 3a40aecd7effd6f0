// The real mouse's raw HID node as the driver uses it: input reports in, feature and output
// reports out, its report descriptor and identity. LinuxHidraw is /dev/hidrawN;
// FakeHidraw (driver/fakes) stands in for tests and the simulated device.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zv::driver {

// Bus types as the kernel numbers them (linux/input.h).
inline constexpr std::uint16_t kBusUSB = 0x03;
inline constexpr std::uint16_t kBusBluetooth = 0x05;

struct HidDeviceIdentity {
  std::uint16_t bus = kBusUSB;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::uint32_t version = 0;
  std::string name;  // as the device names itself
  std::string phys;
  std::string uniq;
};

class HidrawDevice {
 public:
  virtual ~HidrawDevice() = default;

  // Readable (for epoll) when an input report waits. Non-blocking.
  virtual int fd() const = 0;

  // One input report into `buffer`: its length (> 0); 0 when none waits; -ENODEV when the
  // device is gone (unplugged); another -errno on other failures. Loop thread only.
  virtual ssize_t readReport(std::span<std::uint8_t> buffer) = 0;

  virtual const HidDeviceIdentity& identity() const = 0;
  virtual const std::vector<std::uint8_t>& descriptor() const = 0;

  // Feature and output reports. They may wait for a USB round trip (or the kernel's timeout),
  // so the driver calls them on its device worker thread only; they are safe to call there
  // while the loop thread reads reports.
  // getFeature: buffer[0] is the report ID; answers the bytes read or -errno.
  virtual int getFeature(std::span<std::uint8_t> buffer) = 0;
  // setFeature and writeOutput: data[0] is the report ID (0 for devices without IDs);
  // answer the bytes written or -errno.
  virtual int setFeature(std::span<const std::uint8_t> data) = 0;
  virtual int writeOutput(std::span<const std::uint8_t> data) = 0;
};

}  // namespace zv::driver
