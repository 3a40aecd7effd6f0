// What the guest's checks share: the options of the run, the physical mouse once it is
// plugged in, the virtual output devices once created, and helpers that fail the running
// check (CheckFailed) with a message naming the node and the step.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CheckList.h"
#include "DemoMouse.h"
#include "EvdevReader.h"
#include "HidNodes.h"
#include "Latency.h"
#include "UhidDevice.h"
#include "UsbGadgetMouse.h"
#include "testing/ChildProcess.h"

namespace zv::output {
class UinputOutput;
}

namespace zv::vmtest {

struct GuestOptions {
  // A link of the chain broken on purpose, to prove the checks notice: "wrong-descriptor"
  // (the mouse presents another type's descriptor), "no-grab" (the grab check takes no
  // grab) or "no-agent-output" (the agent records its keys instead of sending them through
  // uinput). Empty in a normal run.
  std::string breakLink;
  std::size_t latencyReports = 10000;
  // Safety net for one wait; software emulation is slow, so it is generous.
  std::chrono::milliseconds bound{5000};
  // Where the host put the suite's programs and their data.
  std::string programsFolder = "/opt/kinetra/bin";
  std::string dataRoot = "/opt/kinetra/share/kinetra";
};

// The links that --break accepts.
bool isBreakableLink(const std::string& link);

struct GuestSession {
  GuestOptions options;
  CheckList checks;

  std::unique_ptr<UhidDevice> mouse;  // the physical mouse played through uhid, once plugged in
  HidDeviceInfo mouseInfo;            // its sysfs entry and nodes
  std::string mouseEvdev;             // its pointer's evdev node

  // The same mouse on a USB bus (a gadget on dummy_hcd), as the driver daemon's checks
  // use it.
  std::unique_ptr<UsbGadgetMouse> usbMouse;
  HidDeviceInfo usbMouseInfo;
  std::string usbMouseEvdev;

  std::unique_ptr<zv::output::UinputOutput> output;  // the virtual keyboard and pointer

  GuestSession();
  ~GuestSession();

  // The path of a suite program the host put into the guest; empty when this build has none.
  std::string program(const std::string& name) const;
  // Starts `argv` (a program's path first) with `environment` added to the guest's own,
  // its output in `logPath` (emptied first); fails the check when it cannot be started.
  std::unique_ptr<testing::ChildProcess> start(
      const std::vector<std::string>& argv, const std::string& logPath,
      const std::map<std::string, std::string>& environment = {}) const;

  // One report of the physical mouse (uhid), or of the USB one.
  void send(const MouseInput& input);
  void sendUsb(const MouseInput& input);
  // The evdev node of `device` that reports relative X: a mouse may have further nodes.
  std::string pointerNode(const HidDeviceInfo& device);
  std::unique_ptr<EvdevReader> openReader(const std::string& node);
  // The next frame of `reader`; fails the check when none comes within the bound.
  EvdevFrame expectFrame(EvdevReader& reader, const std::string& after);
  // Motion reports of ±1 sent through `send` (uhid) or `sendUsb`, one at a time, each
  // timed until its frame comes out of `node`; records the summary as metric
  // "latency.<metric>" and answers it.
  LatencySummary measureMotionLatency(const std::string& node, bool usb, const std::string& metric);
  // Fails the check unless `frame` has `value` for (type, code).
  static void expectValue(const EvdevFrame& frame, std::uint16_t type, std::uint16_t code,
                          std::int32_t value, const std::string& what);
};

}  // namespace zv::vmtest
