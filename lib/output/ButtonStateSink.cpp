#include "output/ButtonStateSink.h"

namespace zv::output {

void RecordingButtonStateSink::setButtonStates(std::uint64_t buttons) {
  std::lock_guard lock(mutex_);
  states_.push_back(buttons);
}

std::vector<std::uint64_t> RecordingButtonStateSink::states() const {
  std::lock_guard lock(mutex_);
  return states_;
}

}  // namespace zv::output
