// USB control transfers answered from a table: a device-to-host request for (request,
// index) reads the bytes set for it (zeros when none); host-to-device requests are recorded.
// Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "daemon/UsbControl.h"

namespace zv::driver {

class FakeUsbControl : public UsbControl {
 public:
  struct Transfer {
    std::uint8_t requestType, request;
    std::uint16_t value, index;
    std::vector<std::uint8_t> data;  // as sent (host to device) or answered
  };

  int controlTransfer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                      std::uint16_t index, std::span<std::uint8_t> data,
                      unsigned timeoutMs) override;

  void setAnswer(std::uint8_t request, std::uint16_t index, std::vector<std::uint8_t> bytes);
  // Every transfer fails with -error from now on (0: answer again).
  void setError(int error);
  std::vector<Transfer> transfers() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::uint8_t, std::uint16_t>, std::vector<std::uint8_t>> answers_;
  int error_ = 0;
  std::vector<Transfer> transfers_;
};

}  // namespace zv::driver
