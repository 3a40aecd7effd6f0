// USB control transfers on the mouse's USB device (endpoint 0), for device-type and
// device-memory readings. LibusbControl does them with libusb-1.0; FakeUsbControl answers
// from a table.
//
// Thread affinity: the driver calls it on its device worker thread only: a transfer waits
// for the device.
#pragma once

#include <cstdint>
#include <span>

namespace zv::driver {

class UsbControl {
 public:
  virtual ~UsbControl() = default;
  // One control transfer; `data` is read (device to host, requestType bit 7) or written.
  // Answers the bytes transferred or -errno.
  virtual int controlTransfer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                              std::uint16_t index, std::span<std::uint8_t> data,
                              unsigned timeoutMs) = 0;
};

}  // namespace zv::driver
