#include "RecordOutput.h"

#include <linux/input-event-codes.h>

#include <cstdio>
#include <string>

namespace zv::agent {

namespace {

const char* keyValueText(std::int32_t value) {
  switch (value) {
    case 0:
      return "up";
    case 1:
      return "down";
    default:
      return "repeat";
  }
}

std::string wheelText(std::uint16_t code, std::int32_t value) {
  const bool horizontal = code == REL_HWHEEL || code == REL_HWHEEL_HI_RES;
  const bool highResolution = code == REL_WHEEL_HI_RES || code == REL_HWHEEL_HI_RES;
  const char* direction = horizontal ? (value > 0 ? "right" : "left") : (value > 0 ? "up" : "down");
  const long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
  char text[64];
  if (highResolution) {
    std::snprintf(text, sizeof text, "wheel %s %g", direction,
                  static_cast<double>(magnitude) / output::kHighResolutionPerLine);
  } else {
    std::snprintf(text, sizeof text, "wheel %s %lld", direction, magnitude);
  }
  return text;
}

}  // namespace

void RecordOutput::emit(output::VirtualDevice, std::span<const output::RawEvent> events,
                        const output::EventInfo&) {
  record(events);
}

void UinputRecordOutput::emit(output::VirtualDevice device,
                              std::span<const output::RawEvent> events,
                              const output::EventInfo& info) {
  output::UinputOutput::emit(device, events, info);
  record_->record(events);
}

void RecordOutput::record(std::span<const output::RawEvent> events) {
  const auto now = RecordStream::Clock::now();
  // A wheel step comes as whole lines and high-resolution units together: one line.
  bool wheelLines = false;
  for (const output::RawEvent& event : events) {
    if (event.type == EV_REL && (event.code == REL_WHEEL || event.code == REL_HWHEEL)) {
      wheelLines = true;
    }
  }
  for (const output::RawEvent& event : events) {
    if (event.type == EV_KEY) {
      const bool button =
          event.code >= output::kFirstPointerButton && event.code <= output::kLastPointerButton;
      {
        std::lock_guard lock(mutex_);
        if (event.code < kCodes) down_.set(event.code, event.value != 0);
      }
      stream_->action(std::string(button ? "button " : "key ") +
                          output::codeName(EV_KEY, event.code) + " " + keyValueText(event.value),
                      now);
    } else if (event.type == EV_REL) {
      const bool lines = event.code == REL_WHEEL || event.code == REL_HWHEEL;
      const bool fine = event.code == REL_WHEEL_HI_RES || event.code == REL_HWHEEL_HI_RES;
      if (lines || (fine && !wheelLines)) {
        stream_->action(wheelText(event.code, event.value), now);
      } else if (!fine) {
        stream_->action(
            "pointer " + output::codeName(EV_REL, event.code) + " " + std::to_string(event.value),
            now);
      }
    }
  }
}

std::size_t RecordOutput::releaseHeldKeys() {
  std::bitset<kCodes> held;
  {
    std::lock_guard lock(mutex_);
    held = down_;
    down_.reset();
  }
  for (std::size_t code = 0; code < kCodes; ++code) {
    if (!held.test(code)) continue;
    const bool button = code >= output::kFirstPointerButton && code <= output::kLastPointerButton;
    stream_->line(std::string(button ? "button " : "key ") +
                  output::codeName(EV_KEY, static_cast<std::uint16_t>(code)) +
                  " up (released at exit)");
  }
  return held.count();
}

}  // namespace zv::agent
