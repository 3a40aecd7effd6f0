// The demo mouse end to end through real processes, for integration tests and benchmarks:
// a `zenvor-driver --simulate` daemon, the library finding its simulated mouse, the demo
// bundle's controller connected over the real socket, and a profile of the demo bundle
// running as the agent runs it (executive, element events routed to the store's current
// profile), its keys going to a recording output. Every root is in a temporary tree.
//
//   testing::LiveDemoMouse mouse(ZV_DRIVER_EXECUTABLE);
//   ASSERT_TRUE(mouse.connect()) << mouse.daemon.output();
//   mouse.daemon.send("report 08 00 00 00 00 00 00");           // button 4 pressed
//   mouse.runUntil([&] { return mouse.output->size() > 0; });
//
// The main run loop delivers the device's events: run it (runUntil) on the test's thread.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "device/DeviceController.h"
#include "device/ProfileStoreFactory.h"
#include "engine/ZVProfile.h"
#include "output/RecordingOutput.h"
#include "store/DeviceSession.h"
#include "testing/SimulatedDaemon.h"
#include "testing/TemporaryTree.h"

namespace zv::testing {

class LiveDemoMouse {
 public:
  // Starts the daemon and loads the demo bundle's `profileFile`, not yet connected.
  explicit LiveDemoMouse(const std::filesystem::path& daemonExecutable,
                         const std::string& profileFile = "Default.pr0",
                         SimulatedDaemon::Input input = SimulatedDaemon::Input::script);
  ~LiveDemoMouse();
  LiveDemoMouse(const LiveDemoMouse&) = delete;
  LiveDemoMouse& operator=(const LiveDemoMouse&) = delete;

  // Starts matching and waits (up to 10 s) until the controller is connected and the
  // daemon has every element the profile overrides overridden. False, with the reason in
  // `why`, otherwise.
  bool connect(std::string* why = nullptr);
  // Runs the main loop until `condition` holds, at most 10 s.
  static bool runUntil(const std::function<bool()>& condition);

  TemporaryTree tree;
  SimulatedDaemon daemon;
  std::shared_ptr<output::RecordingOutput> output;
  std::shared_ptr<device::DeviceController> controller;
  std::shared_ptr<engine::ZVProfile> profile;

 private:
  std::shared_ptr<store::DeviceSession> session_;
  std::shared_ptr<device::ProfileStoreFactory> previousFactory_;
  SimulatedDaemon::Input input_;
  bool wasExecutive_;
};

}  // namespace zv::testing
