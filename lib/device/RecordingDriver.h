// A driver that performs nothing and keeps every call, in order, with a listener for
// callers that print them as they come (`kinetra simulate`). Its element map is whatever
// the caller sets. Safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "device/DriverOperations.h"

namespace zv::device {

struct DriverCall {
  enum class Kind : std::uint8_t { overrideElement, setMouseAxis, setButtonStates };
  Kind kind;
  std::uint32_t element = 0;  // overrideElement, setMouseAxis
  bool enabled = false;       // overrideElement
  int axis = 0;               // setMouseAxis
  std::uint64_t buttons = 0;  // setButtonStates
  bool operator==(const DriverCall&) const = default;
};

// "overrideElement 0x90004 on", "setMouseAxis 0x10030 1", "setButtonStates 0x4".
std::string describe(const DriverCall& call);

class RecordingDriver : public DriverOperations {
 public:
  using Listener = std::function<void(const DriverCall&)>;

  void overrideElement(std::uint32_t element, bool enabled) override;
  void setMouseAxis(std::uint32_t element, int axis) override;
  void setButtonStates(std::uint64_t buttons) override;
  ElementMap elementMap() const override;

  void setElementMap(ElementMap map);
  std::vector<DriverCall> calls() const;
  // The calls as describe() texts.
  std::vector<std::string> describedCalls() const;
  void clear();
  // Called, outside the recorder's lock, for every call as it is recorded.
  void setListener(Listener listener);

  // What the calls so far leave in place: the elements overridden now and the element
  // of each axis (0 when none).
  std::vector<std::uint32_t> overriddenElements() const;
  std::uint32_t mouseAxis(int axis) const;

 private:
  void record(const DriverCall& call);

  mutable std::mutex mutex_;
  std::vector<DriverCall> calls_;
  ElementMap elementMap_;
  Listener listener_;
};

}  // namespace zv::device
