// A profile of the demo mouse running on fakes: a manual clock, a recording output, a
// recording driver and a recording workspace, with the device's profile store in memory.
// Tests load node text (or a demo profile), feed element events, move time and read
// what came out.
//
//   EngineHarness h;
//   h.load("[profile=T [controller=DemoMouse ...]]");
//   h.event(0x90004, 1);
//   h.settle(1);                 // the command waits out its 0.5 s hold
//   EXPECT_EQ(h.take(), (Lines{"KEY_PAGEDOWN 1"}));
//
// The harness makes its output, workspace and executive flag the process's for its
// lifetime. At its end it deactivates the profile and ends every command run before it
// lets go of the clock and the recorders.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceController.h"
#include "device/RecordingDriver.h"
#include "engine/Clock.h"
#include "engine/ZVProfile.h"
#include "json/Value.h"
#include "output/RecordingOutput.h"
#include "output/Workspace.h"

namespace zv::testing {

using Lines = std::vector<std::string>;

// The source tree's data folder, its prototype and the demo mouse's bundle.
std::filesystem::path sourceDataPath();
json::DictionaryPtr bundledPrototype();
std::filesystem::path demoBundlePath();
// The demo mouse's controller (description completed with the bundle's defaults).
std::shared_ptr<device::DeviceController> makeDemoDevice();

// An output event as a test line: "KEY_PAGEDOWN 1", "KEY_PAGEDOWN 2" (auto-repeat),
// "REL_WHEEL -3"; the high-resolution wheel events are left out. Empty for those.
std::string line(const output::RecordedEvent& event);

class EngineHarness {
 public:
  explicit EngineHarness(bool executive = true);
  ~EngineHarness();
  EngineHarness(const EngineHarness&) = delete;
  EngineHarness& operator=(const EngineHarness&) = delete;

  // Converts the node text with the bundled prototype, loads it as `profile` for the
  // demo mouse, names it after its "profile" member in the store's folder and makes it
  // active. A conversion failure fails the test (and answers nullptr).
  std::shared_ptr<engine::ZVProfile> load(std::string_view nodeText);
  // The same with a profile file of the demo bundle ("Default.pr0").
  std::shared_ptr<engine::ZVProfile> loadDemo(const std::string& fileName);

  // One element event into the profile.
  void event(std::uint32_t element, std::int32_t value);
  // Waits (real time, up to 10 s) until `count` threads wait on the clock; false when
  // they do not.
  bool settle(std::size_t count);
  void advance(std::chrono::milliseconds time);
  // Moves the clock to `ms` milliseconds after the harness started, deadline by deadline,
  // with the runs settled after each step (engine::advanceClockTo); false when they do
  // not settle. This is how a scripted session runs: event, runTo(next time), event, ...
  bool runTo(long long ms);
  // Waits (up to 10 s) until every command run has ended.
  bool idle();

  // The output so far as test lines, with and without taking it.
  Lines lines() const;
  Lines take();
  // Each line prefixed with its time in milliseconds since the harness started: "500 KEY_A 2".
  Lines timedLines() const;
  // Milliseconds since the harness started.
  long long now() const;

  std::shared_ptr<engine::ManualClock> clock;
  std::shared_ptr<output::RecordingOutput> output;
  std::shared_ptr<device::RecordingDriver> driver;
  std::shared_ptr<output::RecordingWorkspace> workspace;
  std::shared_ptr<device::DeviceController> device;
  std::shared_ptr<device::SimpleProfileStore> store;
  std::shared_ptr<engine::ZVProfile> profile;

 private:
  engine::Clock::TimePoint start_;
  bool wasExecutive_;
  std::shared_ptr<output::Workspace> previousWorkspace_;
};

}  // namespace zv::testing
