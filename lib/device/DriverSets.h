// The process-wide registry that ties devices found by the HID manager to the driver
// interfaces that want them: one driver set per (vendor, product) pair ever seen, with
// the device present under those identifiers and the interfaces registered for them in
// registration order. Sets are appended and never removed.
//
// Matching: a device whose identifiers have a set with interfaces is connected to each
// of them, in order, DriverTiming::matchDelay after it was matched, provided its primary
// usage is mouse (2) or game pad (5), or its report descriptor has a Mouse or Pointer
// collection after another one (MouseCapabilities.h); a device of any other usage is ignored and
// leaves the set as it was. (A mouse has several hidraw nodes under the same identifiers, its
// keyboard and vendor interfaces among them; only the mouse node is the device.) An
// interface that registers while its set holds a device connects at once.
//
// Threads: the main run loop, where the HID managers report.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/HidManager.h"

namespace zv::device {

class DriverInterface;

struct DriverSet {
  std::int64_t vendorId = 0;
  std::int64_t productId = 0;
  platform::HidDeviceRef device;
  // Held weakly: an interface leaves its set when its controller lets it go.
  std::vector<std::weak_ptr<DriverInterface>> interfaces;

  // The interfaces still alive, in registration order.
  std::vector<std::shared_ptr<DriverInterface>> liveInterfaces() const;
};

// The first set with both identifiers equal / holding `device`; null when none.
DriverSet* findRegisteredDeviceByVidPid(std::int64_t vendorId, std::int64_t productId);
DriverSet* findRegisteredDeviceByHIDRef(const platform::HidDeviceRef& device);
// Every set, in the order they were made.
const std::deque<DriverSet>& driverSets();

// Starts device matching (the agent and the editor call it once, after their device
// controllers exist): a new HID manager reporting to the callbacks below, on the main
// run loop. With KINETRA_SIMULATED_DEVICES=1 in the environment the managers report the
// simulated mice of running daemons instead of hidraw nodes (SimulatedHidManager.h).
void startMatching();
// Enters the interface in the set for its identifiers (made when missing), making sure
// a HID manager is matching; connects it at once when the set holds a device.
void RegisterDriver(const std::shared_ptr<DriverInterface>& interface);

void DeviceMatchedCallback(const platform::HidDeviceRef& device);
void DeviceRemovedCallback(const platform::HidDeviceRef& device);

// Forgets every set and HID manager, for tools and tests that start over.
void resetDriverSets();

}  // namespace zv::device
