#include "output/OutputDevice.h"

#include <linux/input-event-codes.h>

#include <mutex>

#include "output/KeyTables.h"
#include "output/UinputOutput.h"

namespace zv::output {
namespace {

constexpr RawEvent kSynReport{EV_SYN, SYN_REPORT, 0};

std::mutex& sharedMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<OutputDevice>& sharedSlot() {
  static std::shared_ptr<OutputDevice> output;
  return output;
}

std::shared_ptr<OutputDevice>& uinputSlot() {
  static std::shared_ptr<OutputDevice> output;
  return output;
}

}  // namespace

EncodedEvents encodeKey(std::uint16_t key, std::int32_t value) {
  EncodedEvents out;
  out.events[0] = {EV_KEY, key, value};
  out.events[1] = kSynReport;
  out.count = 2;
  return out;
}

EncodedEvents encodeWheel(std::int32_t lines, bool horizontal) {
  // Both forms, as a hi-res mouse reports them: newer clients read the hi-res axis and
  // ignore the other, older ones read whole lines.
  EncodedEvents out;
  out.events[0] = {EV_REL, static_cast<std::uint16_t>(horizontal ? REL_HWHEEL : REL_WHEEL), lines};
  out.events[1] = {EV_REL,
                   static_cast<std::uint16_t>(horizontal ? REL_HWHEEL_HI_RES : REL_WHEEL_HI_RES),
                   lines * kHighResolutionPerLine};
  out.events[2] = kSynReport;
  out.count = 3;
  return out;
}

bool isPointerCode(std::uint16_t type, std::uint16_t code) {
  if (type == EV_KEY) return code >= kFirstPointerButton && code <= kLastPointerButton;
  if (type == EV_REL) {
    return code == REL_X || code == REL_Y || code == REL_WHEEL || code == REL_HWHEEL ||
           code == REL_WHEEL_HI_RES || code == REL_HWHEEL_HI_RES;
  }
  return false;
}

EncodedEvents encodePointer(std::span<const RawEvent> events) {
  EncodedEvents out;
  for (const RawEvent& event : events) {
    if (out.count == kMaxEncodedEvents - 1) break;
    if (isPointerCode(event.type, event.code)) out.events[out.count++] = event;
  }
  if (out.count > 0) out.events[out.count++] = kSynReport;
  return out;
}

void OutputDevice::postKey(std::uint16_t key, std::int32_t value, std::uint32_t flags) {
  EncodedEvents encoded = encodeKey(key, value);
  emit(VirtualDevice::keyboard, encoded.view(), EventInfo{flags, value == 2});
}

void OutputDevice::postWheel(std::int32_t lines, bool horizontal) {
  EncodedEvents encoded = encodeWheel(lines, horizontal);
  emit(VirtualDevice::pointer, encoded.view(), EventInfo{});
}

void OutputDevice::postPointer(std::span<const RawEvent> events) {
  EncodedEvents encoded = encodePointer(events);
  if (encoded.count > 0) emit(VirtualDevice::pointer, encoded.view(), EventInfo{});
}

std::shared_ptr<OutputDevice> sharedOutput() {
  std::lock_guard lock(sharedMutex());
  if (sharedSlot()) return sharedSlot();
  // One uinput backend per process, whatever was set in between.
  if (!uinputSlot()) uinputSlot() = std::make_shared<UinputOutput>();
  return uinputSlot();
}

void setSharedOutput(std::shared_ptr<OutputDevice> output) {
  std::lock_guard lock(sharedMutex());
  sharedSlot() = std::move(output);
}

std::vector<std::uint16_t> virtualKeyboardKeys() {
  return producibleKeys();
}

std::vector<RawEvent> virtualPointerCodes() {
  std::vector<RawEvent> codes;
  for (std::uint16_t rel :
       {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES}) {
    codes.push_back({EV_REL, rel, 0});
  }
  for (std::uint16_t button = kFirstPointerButton; button <= kLastPointerButton; ++button) {
    codes.push_back({EV_KEY, button, 0});
  }
  return codes;
}

}  // namespace zv::output
