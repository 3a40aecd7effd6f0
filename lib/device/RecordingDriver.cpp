#include "device/RecordingDriver.h"

#include <cstdio>
#include <set>

namespace zv::device {

std::string describe(const DriverCall& call) {
  char text[96];
  switch (call.kind) {
    case DriverCall::Kind::overrideElement:
      std::snprintf(text, sizeof text, "overrideElement 0x%X %s", call.element,
                    call.enabled ? "on" : "off");
      break;
    case DriverCall::Kind::setMouseAxis:
      std::snprintf(text, sizeof text, "setMouseAxis 0x%X %d", call.element, call.axis);
      break;
    case DriverCall::Kind::setButtonStates:
      std::snprintf(text, sizeof text, "setButtonStates 0x%llX",
                    static_cast<unsigned long long>(call.buttons));
      break;
  }
  return text;
}

void RecordingDriver::record(const DriverCall& call) {
  Listener listener;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    listener = listener_;
  }
  if (listener) listener(call);
}

void RecordingDriver::overrideElement(std::uint32_t element, bool enabled) {
  record(DriverCall{DriverCall::Kind::overrideElement, element, enabled, 0, 0});
}

void RecordingDriver::setMouseAxis(std::uint32_t element, int axis) {
  record(DriverCall{DriverCall::Kind::setMouseAxis, element, false, axis, 0});
}

void RecordingDriver::setButtonStates(std::uint64_t buttons) {
  record(DriverCall{DriverCall::Kind::setButtonStates, 0, false, 0, buttons});
}

ElementMap RecordingDriver::elementMap() const {
  std::lock_guard lock(mutex_);
  return elementMap_;
}

void RecordingDriver::setElementMap(ElementMap map) {
  std::lock_guard lock(mutex_);
  elementMap_ = std::move(map);
}

std::vector<DriverCall> RecordingDriver::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> RecordingDriver::describedCalls() const {
  std::vector<std::string> texts;
  for (const DriverCall& call : calls()) texts.push_back(describe(call));
  return texts;
}

void RecordingDriver::clear() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

void RecordingDriver::setListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

std::vector<std::uint32_t> RecordingDriver::overriddenElements() const {
  std::set<std::uint32_t> on;
  for (const DriverCall& call : calls()) {
    if (call.kind != DriverCall::Kind::overrideElement) continue;
    if (call.enabled) {
      on.insert(call.element);
    } else {
      on.erase(call.element);
    }
  }
  return {on.begin(), on.end()};
}

std::uint32_t RecordingDriver::mouseAxis(int axis) const {
  std::uint32_t element = 0;
  for (const DriverCall& call : calls()) {
    if (call.kind == DriverCall::Kind::setMouseAxis && call.axis == axis) element = call.element;
  }
  return element;
}

}  // namespace zv::device
