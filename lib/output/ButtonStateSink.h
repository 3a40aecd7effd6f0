// Mouse buttons pressed by macros are not synthesised: their state goes to the driver,
// which forces it into the mouse's own reports. A ButtonStateSink is where such a state
// goes; the driver interface is one, RecordingButtonStateSink keeps them for tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace zv::output {

// Receives forced button states (one bit per button). Implementations accept calls from
// any thread: command threads send states, several at once.
class ButtonStateSink {
 public:
  virtual ~ButtonStateSink() = default;
  virtual void setButtonStates(std::uint64_t buttons) = 0;
};

// Keeps every state it is sent, for tests and the kinetra tool.
class RecordingButtonStateSink : public ButtonStateSink {
 public:
  void setButtonStates(std::uint64_t buttons) override;
  std::vector<std::uint64_t> states() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint64_t> states_;
};

}  // namespace zv::output
