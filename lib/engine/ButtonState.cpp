#include "engine/ButtonState.h"

namespace zv::engine {

SharedButtonState& SharedButtonState::shared() {
  static SharedButtonState state;
  return state;
}

bool SharedButtonState::apply(std::uint32_t usage, std::int32_t value,
                              output::ButtonStateSink* sink) {
  const auto mask = static_cast<std::uint8_t>(usage & 0xFF);
  std::lock_guard lock(mutex_);
  if (value != 0) {
    state_ = static_cast<std::uint8_t>(state_ | mask);
  } else {
    state_ = static_cast<std::uint8_t>(state_ & ~mask);
  }
  if (state_ == lastSent_) return false;
  lastSent_ = state_;
  if (sink) sink->setButtonStates(state_);
  return true;
}

std::uint8_t SharedButtonState::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::uint8_t SharedButtonState::lastSent() const {
  std::lock_guard lock(mutex_);
  return lastSent_;
}

}  // namespace zv::engine
