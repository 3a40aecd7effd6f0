// Where synthesised input goes. Two virtual devices: a keyboard for keys, media and
// brightness keys, and a pointer for wheel steps and for pointer events a mouse tap lets
// through. Every request is encoded once, here, into the evdev events a kernel input
// device would report, ending with SYN_REPORT; a backend only delivers them.
//
// Backends: UinputOutput (the desktop sees the events) and RecordingOutput (tests, the
// kinetra tool, the editor's test mode). All posts are safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zv::output {

enum class VirtualDevice : std::uint8_t { keyboard, pointer };

struct RawEvent {
  std::uint16_t type;
  std::uint16_t code;
  std::int32_t value;
  bool operator==(const RawEvent&) const = default;
};

// What a key event carries beside its evdev fields. evdev events have no modifier flags:
// the desktop derives modifiers from the keys held on each device. The flags are kept so
// recordings show which modifiers the keyboard object meant to apply.
struct EventInfo {
  std::uint32_t flags = 0;
  bool autoRepeat = false;
};

// Wheel steps in hi-res units per line: the kernel's convention for REL_*_HI_RES.
inline constexpr std::int32_t kHighResolutionPerLine = 120;

// The pointer's button codes, BTN_LEFT..BTN_TASK.
inline constexpr std::uint16_t kFirstPointerButton = 0x110;
inline constexpr std::uint16_t kLastPointerButton = 0x117;

// At most this many events (SYN_REPORT included) make one encoded request.
inline constexpr std::size_t kMaxEncodedEvents = 16;

struct EncodedEvents {
  std::array<RawEvent, kMaxEncodedEvents> events{};
  std::size_t count = 0;
  std::span<const RawEvent> view() const { return {events.data(), count}; }
};

// The encoders, shared by every backend. Values of `key`: 0 release, 1 press,
// 2 auto-repeat. Positive wheel lines scroll up (vertical) or right (horizontal).
EncodedEvents encodeKey(std::uint16_t key, std::int32_t value);
EncodedEvents encodeWheel(std::int32_t lines, bool horizontal);
// Pointer events passed through: only codes the virtual pointer declares are kept
// (relative motion, wheels and buttons); at most kMaxEncodedEvents - 1 of them.
EncodedEvents encodePointer(std::span<const RawEvent> events);
bool isPointerCode(std::uint16_t type, std::uint16_t code);

class OutputDevice {
 public:
  virtual ~OutputDevice() = default;

  // One key change on the virtual keyboard.
  void postKey(std::uint16_t key, std::int32_t value, std::uint32_t flags);
  // One wheel step of `lines` lines on the virtual pointer.
  void postWheel(std::int32_t lines, bool horizontal);
  // Pointer events of one report, re-emitted on the virtual pointer.
  void postPointer(std::span<const RawEvent> events);

  // Creates the backend's devices now rather than at the first post, so the desktop has
  // picked them up before the first key; a no-op where there is nothing to create.
  virtual void prepare() {}

 protected:
  // Delivers the encoded events of one request (ending with SYN_REPORT).
  virtual void emit(VirtualDevice device, std::span<const RawEvent> events,
                    const EventInfo& info) = 0;
};

// The process-wide output used by keyboards and mice created without one: the uinput
// backend, created at first use, unless another was set.
std::shared_ptr<OutputDevice> sharedOutput();
// Sets the process-wide output (nullptr restores the uinput backend). Objects created
// before keep the output they were given.
void setSharedOutput(std::shared_ptr<OutputDevice> output);

// The codes each virtual device declares.
std::vector<std::uint16_t> virtualKeyboardKeys();
std::vector<RawEvent> virtualPointerCodes();  // (type, code) pairs; value unused

}  // namespace zv::output
