// A HID manager for working without a mouse: it reports one device for each simulated
// mouse a driver daemon serves (`zenvor-driver --simulate`, whose socket is named
// "<class>@simulated-PPPP" in the services folder), with the vendor and product the
// daemon answers to sGetDeviceInfo and the primary usage of a mouse. The folder is looked
// at when the manager is scheduled and then every `interval`, so simulated mice come and
// go with their daemons.
//
// Programs select it with installSimulatedHidManager() (the kinetra tool's --simulated,
// a program started with KINETRA_SIMULATED_DEVICES=1); the devices it reports have no
// reports of their own: open() succeeds, setReport() does nothing, getReport() fails.
//
// Threads: the run loop it is scheduled on.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/HidManager.h"
#include "platform/RunLoop.h"

namespace zv::device {

class SimulatedHidManager : public platform::HidManager {
 public:
  explicit SimulatedHidManager(std::chrono::milliseconds interval = std::chrono::milliseconds(500));
  ~SimulatedHidManager() override;

  void setDeviceMatchingCallback(DeviceCallback callback) override;
  void setDeviceRemovalCallback(DeviceCallback callback) override;
  base::Result<void> scheduleWithRunLoop(platform::RunLoop& loop) override;
  void unscheduleFromRunLoop() override;
  std::vector<platform::HidDeviceRef> devices() const override;

  // Looks at the services folder now.
  void rescan();

 private:
  std::chrono::milliseconds interval_;
  platform::RunLoop* loop_ = nullptr;
  platform::RunLoop::TimerId timer_ = 0;
  DeviceCallback matching_;
  DeviceCallback removal_;
  // By service socket name, in the order matched.
  std::map<std::string, platform::HidDeviceRef> devices_;
  std::vector<std::string> order_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Makes the process's HID managers simulated ones (see above).
void installSimulatedHidManager();
// Whether KINETRA_SIMULATED_DEVICES asks for simulated devices (set and not "0").
bool simulatedDevicesRequested();

}  // namespace zv::device
