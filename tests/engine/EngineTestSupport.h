// Shared pieces of the engine tests: a delegate that records what it hears, and small
// node-text builders for profiles of the demo mouse.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/CommandThreads.h"
#include "engine/ZVActionBlock.h"
#include "engine/ZVActionCommand.h"
#include "engine/ZVActionCommandTrigger.h"
#include "engine/ZVBand.h"
#include "engine/ZVProfile.h"
#include "engine/ZVProfileNotifications.h"
#include "engine/ZVShiftState.h"
#include "testing/EngineHarness.h"

namespace zv::engine::test {

using testing::Lines;

class RecordingDelegate : public engine::ZVProfileNotifications {
 public:
  void onProfileActionWithPage(std::uint32_t page, std::uint32_t usage, std::uint32_t value,
                               const std::string& string) override {
    add("action " + std::to_string(page) + " " + std::to_string(usage) + " " +
        std::to_string(value) + " '" + string + "'");
  }
  void onProfileCmdBegin() override { add("begin"); }
  void onProfileCmdEnd() override { add("end"); }
  Lines heard() const {
    std::lock_guard lock(mutex_);
    return heard_;
  }

 private:
  void add(std::string text) {
    std::lock_guard lock(mutex_);
    heard_.push_back(std::move(text));
  }
  mutable std::mutex mutex_;
  Lines heard_;
};

// Waits (up to 10 s of real time, a safety net) until every command run has ended or
// waits on the harness's clock: what a run does between two waits, or before it ends, is
// then done. For a run that ends, or goes on, without a wait the test could count.
inline bool quiet(const testing::EngineHarness& h) {
  return CommandThreads::shared().waitQuiet(*h.clock);
}

// "[action page=0x7 usage=0x4 value=0x1 time=0x1f4 ]" — zero values are left out as the
// writer does.
inline std::string action(unsigned page, unsigned usage, unsigned value, unsigned time = 0) {
  char text[128];
  std::string out = "[action";
  auto field = [&](const char* name, unsigned number) {
    if (number == 0) return;
    std::snprintf(text, sizeof text, " %s=0x%x", name, number);
    out += text;
  };
  field("page", page);
  field("usage", usage);
  field("value", value);
  field("time", time);
  return out + " ]";
}

// A key press and release on the keyboard page: two actions.
inline std::string keyTap(unsigned usage) {
  return action(7, usage, 1) + action(7, usage, 0);
}

// "[actionblock type=TYPE ACTIONS ]" (no type attribute for "").
inline std::string block(const std::string& actions, const std::string& type = "") {
  return "[actionblock" + (type.empty() ? std::string() : " type=" + type) + " " + actions + " ]";
}

// A command with a fresh GUID.
inline std::string command(const std::string& blocks, const std::string& name = "c") {
  static int counter = 0;
  char guid[64];
  std::snprintf(guid, sizeof guid, "{00000000-0000-4000-8000-%012d}", ++counter);
  return std::string("[command=") + guid + " name=" + name + " " + blocks + " ]";
}

inline std::string band(int threshold, const std::string& commandText = "") {
  return "[band=" + std::to_string(threshold) + " " + commandText + " ]";
}

inline std::string trigger(unsigned element, const std::string& bands,
                           const std::string& attributes = "") {
  char text[64];
  std::snprintf(text, sizeof text, "[trigger=0x%x", element);
  return text + (attributes.empty() ? std::string() : " " + attributes) + " " + bands + " ]";
}

// A button trigger: one band of threshold 1 with a command of `blocks`.
inline std::string buttonTrigger(unsigned element, const std::string& blocks) {
  return trigger(element, band(1, command(blocks)));
}

// A shift state with GUID {…-00000000000N}.
inline std::string shiftGUID(int n) {
  char guid[64];
  std::snprintf(guid, sizeof guid, "{5A56D3E0-0000-4000-8000-%012d}", n);
  return guid;
}

inline std::string shift(int n, const std::string& name, const std::string& content,
                         const std::string& attributes = "") {
  return "[shift=" + shiftGUID(n) + " name=" + name +
         (attributes.empty() ? std::string() : " " + attributes) + " " + content + " ]";
}

inline std::string selectionSet(std::initializer_list<unsigned> buttons) {
  std::string out = "[selectionset";
  char text[48];
  for (unsigned button : buttons) {
    std::snprintf(text, sizeof text, " [buttonhid=0x%x ]", button);
    out += text;
  }
  return out + " ]";
}

// The controls of the demo mouse: buttons 1-16 (button 9 latching), wheel, hat, and X and
// Y as relative motion; `xy` "axis" makes X and Y absolute axes, as on a game pad.
inline std::string demoControls(const std::string& xy = "motion") {
  std::string out = "[controls";
  char text[64];
  for (unsigned b = 1; b <= 16; ++b) {
    std::snprintf(text, sizeof text, " [button=0x%x%s ]", 0x90000 + b,
                  b == 9 ? " latched=true" : "");
    out += text;
  }
  return out + " [wheel=0x10038 ] [hat=0x10039 ] [" + xy + "=0x10030 ] [" + xy + "=0x10031 ] ]";
}

// A whole profile for the demo mouse with these shift states.
inline std::string profileText(const std::string& shifts,
                               const std::string& controls = demoControls()) {
  return "[profile=Test [controller=DemoMouse " + controls + " " + shifts + " ] ]";
}

// The command of the first band of the trigger for `element` in shift state `index`.
inline std::shared_ptr<ZVActionCommandTrigger> triggerFor(const engine::ZVProfile& profile,
                                                          std::uint32_t element,
                                                          std::size_t index = 0) {
  const auto& shifts = profile.currentController()->children("shifts");
  auto state = std::dynamic_pointer_cast<ZVShiftState>(shifts.at(index));
  for (const auto& node : state->children("assignments")) {
    auto t = std::dynamic_pointer_cast<ZVActionCommandTrigger>(node);
    if (t && t->hidElement() == element) return t;
  }
  return nullptr;
}

inline std::shared_ptr<ZVActionCommand> commandFor(const engine::ZVProfile& profile,
                                                   std::uint32_t element, std::size_t index = 0) {
  auto t = triggerFor(profile, element, index);
  return t && !t->bands().empty() ? t->bands().front()->command() : nullptr;
}

// Button n of the mouse.
constexpr std::uint32_t button(unsigned n) {
  return 0x90000 + n;
}

// HID keyboard usages used below.
constexpr unsigned kA = 0x04, kB = 0x05, kC = 0x06, kD = 0x07, kX = 0x1b, kY = 0x1c, kZ = 0x1d;

}  // namespace zv::engine::test
