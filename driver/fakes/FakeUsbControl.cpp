#include "fakes/FakeUsbControl.h"

#include <algorithm>

namespace zv::driver {

int FakeUsbControl::controlTransfer(std::uint8_t requestType, std::uint8_t request,
                                    std::uint16_t value, std::uint16_t index,
                                    std::span<std::uint8_t> data, unsigned) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (error_) return -error_;
  if (requestType & 0x80) {
    std::fill(data.begin(), data.end(), 0);
    const auto found = answers_.find({request, index});
    if (found != answers_.end()) {
      std::copy_n(found->second.begin(), std::min(data.size(), found->second.size()), data.begin());
    }
  }
  transfers_.push_back({requestType, request, value, index, {data.begin(), data.end()}});
  return static_cast<int>(data.size());
}

void FakeUsbControl::setAnswer(std::uint8_t request, std::uint16_t index,
                               std::vector<std::uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[{request, index}] = std::move(bytes);
}

void FakeUsbControl::setError(int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  error_ = error;
}

std::vector<FakeUsbControl::Transfer> FakeUsbControl::transfers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transfers_;
}

}  // namespace zv::driver
