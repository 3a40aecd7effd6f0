// Wheel output for action blocks, and the mouse tap that lets the editor follow clicks
// and drags anywhere and decide, event by event, whether they reach applications.
//
// The tap grabs the pointers' evdev nodes; what the target lets through (and every event
// the tap does not report) is re-emitted on the virtual pointer, the rest is swallowed.
// Positions are the pointer's travel since the tap started, in device units: evdev
// pointers move relatively and there is no screen position to read on every desktop.
//
// Threads: scrollMouse() runs on the command run's thread; the tap, its target and
// cancelTap() belong to the thread of the tap's FdWatcher (the main run loop).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "log/Log.h"
#include "output/InputDevices.h"
#include "output/OutputDevice.h"

namespace zv::output {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

// Receives the tapped mouse events. A target that keeps this default lets every event
// through.
class ZVMouseTapTarget {
 public:
  virtual ~ZVMouseTapTarget() = default;
  // Page 9, the button usage (0 for a move or a left drag, 1 for a right drag), the value,
  // the position and the time in milliseconds; true lets the event through.
  virtual bool onMouse(std::uint32_t page, std::uint32_t usage, std::uint32_t value, Point position,
                       std::uint64_t timeMs);
};

// Turns one pointer node's evdev events into the tap's events. Each report (up to
// SYN_REPORT) becomes steps in order: motion first (a move, or a drag of the held
// button), then each button change, then everything else. A step carries its raw events,
// re-emitted when it passes, and what is reported for it, if anything.
class PointerTapMapper {
 public:
  struct Reported {
    std::uint32_t usage;
    std::uint32_t value;
    bool operator==(const Reported&) const = default;
  };
  struct Step {
    std::optional<Reported> report;
    std::vector<RawEvent> raw;
    Point position;
    std::uint64_t timeNs = 0;
  };

  // Answers the steps of a report when `event` ends one, else nothing.
  std::vector<Step> feed(const InputEvent& event);
  Point position() const { return position_; }
  // Forgets the report in progress and the buttons held (after a pause of the tap).
  void reset();

 private:
  std::vector<InputEvent> pending_;
  std::set<std::uint16_t> held_;
  Point position_;
};

class ZVMouse {
 public:
  // Output goes to sharedOutput(); the tap uses defaultTapServices().
  ZVMouse();
  explicit ZVMouse(std::shared_ptr<OutputDevice> output, TapServices services = {});
  ~ZVMouse();
  ZVMouse(const ZVMouse&) = delete;
  ZVMouse& operator=(const ZVMouse&) = delete;

  // One wheel step of `amount` lines where the pointer is: vertical (positive scrolls up)
  // or horizontal (positive scrolls left).
  void scrollMouse(std::int32_t amount, bool horizontally);

  // Starts the tap, or gives it a new target and enables it again; clears withDrag.
  void tap(std::shared_ptr<ZVMouseTapTarget> target);
  // tap(), then sets withDrag.
  void tapWithDrag(std::shared_ptr<ZVMouseTapTarget> target);
  bool withDrag() const { return withDrag_; }
  // Disables the tap: the pointers are given back and stay open for the next tap().
  void cancelTap();
  bool tapping() const { return enabled_; }
  // Asks the target about one event (time in nanoseconds); true lets it through.
  bool mouseEvent(std::uint32_t page, std::uint32_t usage, std::uint32_t value, Point position,
                  std::uint64_t timeNs);

 private:
  struct TappedPointer {
    std::shared_ptr<InputDevice> device;
    PointerTapMapper mapper;
    bool grabbed = false;
  };
  void sayTapProblem(const std::string& problem);
  void enable();
  void tryGrab(TappedPointer& pointer);
  void onReadable(const std::shared_ptr<InputDevice>& device);
  void releaseForwardedButtons();

  std::shared_ptr<OutputDevice> output_;
  TapServices services_;

  std::shared_ptr<ZVMouseTapTarget> target_;
  bool withDrag_ = false;
  bool opened_ = false;
  bool enabled_ = false;
  log::LogOnce tapProblem_;
  log::LogOnce grabProblem_;
  std::uint64_t tapGeneration_ = 0;
  std::shared_ptr<FdWatcher> watcher_;
  std::map<const InputDevice*, TappedPointer> pointers_;
  // Buttons pressed on the virtual pointer by passed events and not yet released there.
  std::set<std::uint16_t> forwardedDown_;
};

}  // namespace zv::output
