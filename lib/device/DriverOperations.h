// What profiles and action blocks ask of a device's driver: which elements the driver
// reports to the program instead of passing them on as mouse input, which elements move
// the pointer, and the mouse buttons that macros hold down. DriverInterface, the link to
// the driver daemon, implements it; RecordingDriver keeps the calls for tests and for
// `kinetra simulate`.
//
// Threads: overrideElement() and setMouseAxis() come from the thread that delivers
// element events (the main run loop); setButtonStates() comes from command threads, any
// number at once. Implementations must accept every call from any thread.
#pragma once

#include <cstdint>
#include <map>

#include "output/ButtonStateSink.h"

namespace zv::device {

// Element identifier (HID usage page << 16 | usage) → the last value delivered for it.
using ElementMap = std::map<std::uint32_t, std::int32_t>;

// The pointer axes of setMouseAxis().
enum MouseAxis : int { kHorizontalAxis = 1, kVerticalAxis = 2 };

class DriverOperations : public output::ButtonStateSink {
 public:
  // Overridden elements are reported as element events and no longer reach the desktop
  // as mouse input; `enabled` false hands the element back.
  virtual void overrideElement(std::uint32_t element, bool enabled) = 0;
  // Which element drives the pointer on `axis` (kHorizontalAxis or kVerticalAxis);
  // element 0 means none.
  virtual void setMouseAxis(std::uint32_t element, int axis) = 0;
  // From output::ButtonStateSink: the forced mouse-button state, one bit per button.
  //   void setButtonStates(std::uint64_t buttons);

  // The last value delivered per element since the device connected (empty while it is
  // not connected).
  virtual ElementMap elementMap() const { return {}; }
};

}  // namespace zv::device
