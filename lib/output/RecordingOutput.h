// An output backend that keeps every event instead of delivering it: what tests compare,
// what `kinetra keys test` prints and what the editor's test mode can show. Report
// boundaries (SYN_REPORT) are not kept: every request of the encoders ends with one.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "output/OutputDevice.h"

namespace zv::output {

struct RecordedEvent {
  VirtualDevice device;
  std::uint16_t type;
  std::uint16_t code;
  std::int32_t value;
  std::uint32_t flags;
  bool autoRepeat;
  std::chrono::nanoseconds time;  // on the recorder's clock
};

// "keyboard EV_KEY KEY_A 1", followed by " flags=0x20000" when flags are set and
// " auto-repeat" when marked.
std::string describe(const RecordedEvent& event);
// libevdev's name of a code ("KEY_A", "REL_WHEEL"), else the number.
std::string codeName(std::uint16_t type, std::uint16_t code);

class RecordingOutput : public OutputDevice {
 public:
  using TimeSource = std::function<std::chrono::nanoseconds()>;
  using Listener = std::function<void(const RecordedEvent&)>;

  // Times come from `now` (default: the steady clock), so a test driving a manual clock
  // sees its own times in the recording.
  explicit RecordingOutput(TimeSource now = {});

  std::vector<RecordedEvent> events() const;
  std::size_t size() const;
  void clear();
  // Called, outside the recorder's lock, for every event as it is recorded.
  void setListener(Listener listener);

 protected:
  void emit(VirtualDevice device, std::span<const RawEvent> events, const EventInfo& info) override;

 private:
  TimeSource now_;
  mutable std::mutex mutex_;
  std::vector<RecordedEvent> events_;
  Listener listener_;
};

}  // namespace zv::output
