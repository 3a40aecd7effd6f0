// Control transfers with libusb-1.0 on the USB device at /dev/bus/usb/BBB/DDD, opened
// directly (no enumeration, no hot-plug thread). The HID interface stays with the kernel:
// requests to the device itself need no claimed interface.
#pragma once

#include <memory>
#include <string>

#include "daemon/UsbControl.h"

struct libusb_context;
struct libusb_device_handle;

namespace zv::driver {

class LibusbControl : public UsbControl {
 public:
  // Opens bus `bus`, device `address`. Nothing, with *error, when it cannot.
  static std::unique_ptr<LibusbControl> open(unsigned bus, unsigned address, std::string* error);
  ~LibusbControl() override;

  int controlTransfer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                      std::uint16_t index, std::span<std::uint8_t> data,
                      unsigned timeoutMs) override;

 private:
  LibusbControl() = default;
  int fd_ = -1;
  libusb_context* context_ = nullptr;
  libusb_device_handle* handle_ = nullptr;
};

}  // namespace zv::driver
