// The mouse-button state that macros force through the driver (output/ButtonStateSink.h).
// All action blocks of a process share one button state; SharedButtonState keeps it
// consistent when blocks of different command runs change it from their own threads at
// the same time.
#pragma once

#include <cstdint>
#include <mutex>

#include "output/ButtonStateSink.h"

namespace zv::engine {

class SharedButtonState {
 public:
  // The process-wide state: starts at 0 and is never reset.
  static SharedButtonState& shared();

  // Applies one mouse-button action: a non-zero `value` presses the buttons of the low
  // eight bits of `usage`, 0 releases them. When the new state equals the state last
  // sent, answers false (the block's run ends there) and sends nothing. Otherwise records
  // it as sent, sends it to `sink` (when there is one) and answers true.
  //
  // The change, the comparison and the send happen under one lock, so no change is lost
  // between two threads and the sink receives the states in the order they were made.
  // The sink must not call back into this object.
  bool apply(std::uint32_t usage, std::int32_t value, output::ButtonStateSink* sink);

  std::uint8_t state() const;
  std::uint8_t lastSent() const;

 private:
  mutable std::mutex mutex_;
  std::uint8_t state_ = 0;
  std::uint8_t lastSent_ = 0;
};

}  // namespace zv::engine
