// Shared by the driver tests: hex helpers, recording user clients and pointer sinks, and
// report descriptors of common kinds of mice, written out by hand.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/ZVReportHandler.h"

namespace zv::driver::testing {

// "00 01 ff" → {0x00, 0x01, 0xFF}
std::vector<std::uint8_t> bytes(const std::string& hex);
std::string hex(const std::uint8_t* data, std::size_t length);
inline std::string hex(const std::vector<std::uint8_t>& data) {
  return hex(data.data(), data.size());
}

struct ElementEvent {
  std::uint32_t element;
  std::uint64_t value;
  std::uint32_t bitSize;
  bool operator==(const ElementEvent&) const = default;
};

class RecordingClient : public ZVUserClient {
 public:
  void setReportHandler(ZVReportHandler* handler) override { handler_ = handler; }
  void sendElementEvent(std::uint32_t element, std::uint64_t value,
                        std::uint32_t bitSize) override {
    events.push_back({element, value, bitSize});
  }
  std::vector<ElementEvent> events;
  ZVReportHandler* handler_ = nullptr;
};

struct PointerEvent {
  std::int16_t dx;
  std::int16_t dy;
  std::uint32_t buttons;
  bool operator==(const PointerEvent&) const = default;
};

// Thread-safe: the mouse reporter thread may call it.
class PointerRecorder {
 public:
  void operator()(std::int16_t dx, std::int16_t dy, std::uint32_t buttons) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({dx, dy, buttons});
    added_.notify_all();
  }
  std::vector<PointerEvent> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // Blocks until at least `count` events came, up to `timeout` of real time (a safety net
  // for a broken reporter); answers whether they did.
  bool waitForEvents(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return added_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable added_;
  std::vector<PointerEvent> events_;
};

// A boot-protocol mouse: 3 buttons, 5 bits padding, 8-bit relative X and Y. 3-byte reports.
extern const std::vector<std::uint8_t> kBootMouse;
// Report 1: 5 buttons, 3 bits padding, 8-bit X, Y and wheel. Report 2 (consumer collection):
// one 16-bit selector of consumer usages 0..0x23C.
extern const std::vector<std::uint8_t> kReportIdConsumerMouse;
// Report 1: 16 buttons, 16-bit X and Y, 8-bit wheel and AC pan; a vendor feature report 5 of
// 63 bytes.
extern const std::vector<std::uint8_t> kGamingMouse16;
// No report IDs: 8 buttons, 12-bit X and Y packed into 3 bytes, 8-bit wheel, a 4-bit hat
// switch (0..7, null state outside) and 4 bits padding. 6-byte reports.
extern const std::vector<std::uint8_t> kHatMouse;

}  // namespace zv::driver::testing
