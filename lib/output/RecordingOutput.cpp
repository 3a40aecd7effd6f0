#include "output/RecordingOutput.h"

#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>

#include <cstdio>

namespace zv::output {

std::string codeName(std::uint16_t type, std::uint16_t code) {
  const char* name = libevdev_event_code_get_name(type, code);
  return name ? name : std::to_string(code);
}

std::string describe(const RecordedEvent& event) {
  std::string text = event.device == VirtualDevice::keyboard ? "keyboard " : "pointer ";
  const char* type = libevdev_event_type_get_name(event.type);
  text += type ? type : std::to_string(event.type);
  text += " " + codeName(event.type, event.code) + " " + std::to_string(event.value);
  if (event.flags != 0) {
    char flags[32];
    std::snprintf(flags, sizeof flags, " flags=0x%X", event.flags);
    text += flags;
  }
  if (event.autoRepeat) text += " auto-repeat";
  return text;
}

RecordingOutput::RecordingOutput(TimeSource now) : now_(std::move(now)) {
  if (!now_) {
    now_ = [] { return std::chrono::steady_clock::now().time_since_epoch(); };
  }
}

std::vector<RecordedEvent> RecordingOutput::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::size_t RecordingOutput::size() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

void RecordingOutput::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

void RecordingOutput::setListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void RecordingOutput::emit(VirtualDevice device, std::span<const RawEvent> events,
                           const EventInfo& info) {
  const std::chrono::nanoseconds time = now_();
  Listener listener;
  std::vector<RecordedEvent> added;
  {
    std::lock_guard lock(mutex_);
    const std::size_t first = events_.size();
    for (const RawEvent& event : events) {
      if (event.type == EV_SYN) continue;
      events_.push_back(
          {device, event.type, event.code, event.value, info.flags, info.autoRepeat, time});
    }
    if (!listener_) return;
    // The listener runs without the lock, on copies.
    listener = listener_;
    added.assign(events_.begin() + static_cast<std::ptrdiff_t>(first), events_.end());
  }
  for (const RecordedEvent& event : added) listener(event);
}

}  // namespace zv::output
