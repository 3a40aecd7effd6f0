#include "device/DriverSets.h"

#include "device/DriverInterface.h"
#include "device/HIDUtilities.h"
#include "device/SimulatedHidManager.h"
#include "log/Log.h"
#include "platform/RunLoop.h"
#include "protocol/HIDConstants.h"

namespace zv::device {

namespace {

using log::ZVLogLevel;

struct Registry {
  std::deque<DriverSet> sets;
  // Every manager made stays scheduled: the one RegisterDriver made and each of
  // startMatching's. The first is the one RegisterDriver reuses.
  std::vector<std::unique_ptr<platform::HidManager>> managers;
};

Registry& registry() {
  // Never destroyed: interfaces may be let go after main() returns.
  static auto* instance = new Registry;
  return *instance;
}

constexpr std::int32_t kGamePadUsage = 0x05;  // Generic Desktop page

bool isMouseOrGamePad(std::int32_t usage) {
  return usage == hid::kMouseUsage || usage == kGamePadUsage;
}

// The simulated mice of running daemons when the environment asks for them, else the
// process's HID manager.
std::unique_ptr<platform::HidManager> makeHidManager() {
  if (simulatedDevicesRequested()) return std::make_unique<SimulatedHidManager>();
  return platform::createHidManager();
}

void schedule(platform::HidManager& manager) {
  manager.setDeviceMatchingCallback(DeviceMatchedCallback);
  manager.setDeviceRemovalCallback(DeviceRemovedCallback);
  if (const auto scheduled = manager.scheduleWithRunLoop(platform::RunLoop::main()); !scheduled) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "cannot find HID devices: %@", scheduled.failure().message);
    return;
  }
  if (const std::string limitation = manager.limitation(); !limitation.empty()) {
    ZV_LOG(ZVLogLevel::Notice, nullptr, "%@", limitation);
  }
}

}  // namespace

std::vector<std::shared_ptr<DriverInterface>> DriverSet::liveInterfaces() const {
  std::vector<std::shared_ptr<DriverInterface>> live;
  for (const auto& weak : interfaces) {
    if (auto interface = weak.lock()) live.push_back(std::move(interface));
  }
  return live;
}

DriverSet* findRegisteredDeviceByVidPid(std::int64_t vendorId, std::int64_t productId) {
  for (DriverSet& set : registry().sets) {
    if (set.vendorId == vendorId && set.productId == productId) return &set;
  }
  return nullptr;
}

DriverSet* findRegisteredDeviceByHIDRef(const platform::HidDeviceRef& device) {
  if (!device) return nullptr;
  for (DriverSet& set : registry().sets) {
    if (set.device == device) return &set;
  }
  return nullptr;
}

const std::deque<DriverSet>& driverSets() {
  return registry().sets;
}

void startMatching() {
  std::unique_ptr<platform::HidManager> manager = makeHidManager();
  schedule(*manager);
  registry().managers.push_back(std::move(manager));
}

void RegisterDriver(const std::shared_ptr<DriverInterface>& interface) {
  Registry& r = registry();
  if (r.managers.empty()) r.managers.push_back(makeHidManager());
  schedule(*r.managers.front());
  DriverSet* set = findRegisteredDeviceByVidPid(interface->vendorId(), interface->productId());
  if (!set) {
    r.sets.push_back(DriverSet{interface->vendorId(), interface->productId(), nullptr, {}});
    set = &r.sets.back();
  }
  set->interfaces.push_back(interface);
  if (set->device) interface->connectWithRetry(set->device);
}

void DeviceMatchedCallback(const platform::HidDeviceRef& device) {
  const std::int64_t vendorId = IOHIDDevice_GetVendorID(device.get());
  const std::int64_t productId = IOHIDDevice_GetProductID(device.get());
  const std::int32_t usage = IOHIDDevice_GetPrimaryUsage(device.get());
  // Also a set without interfaces yet keeps only a mouse or game pad, so that which node
  // of a product an interface gets does not depend on whether it registered first.
  if (!isMouseOrGamePad(usage)) return;
  DriverSet* set = findRegisteredDeviceByVidPid(vendorId, productId);
  if (!set) {
    registry().sets.push_back(DriverSet{vendorId, productId, device, {}});
    return;
  }
  set->device = device;
  std::vector<std::weak_ptr<DriverInterface>> interfaces = set->interfaces;
  if (interfaces.empty()) return;
  ZV_LOG(ZVLogLevel::Info, nullptr, "matched %@ (%@:%@), connecting in %@ ms", device->path(),
         vendorId, productId, DriverInterface::timing().matchDelay.count());
  platform::RunLoop::main().addTimer(
      DriverInterface::timing().matchDelay, [device, vendorId, productId, interfaces] {
        // A device removed (or replaced) during the wait is not connected.
        const DriverSet* now = findRegisteredDeviceByVidPid(vendorId, productId);
        if (!now || now->device != device) return;
        for (const auto& weak : interfaces) {
          if (auto interface = weak.lock()) interface->connectWithRetry(device);
        }
      });
}

void DeviceRemovedCallback(const platform::HidDeviceRef& device) {
  DriverSet* set = findRegisteredDeviceByHIDRef(device);
  if (!set) return;
  set->device = nullptr;
  for (const auto& interface : set->liveInterfaces()) interface->setHIDDevice(nullptr);
}

void resetDriverSets() {
  Registry& r = registry();
  for (const DriverSet& set : r.sets) {
    for (const auto& interface : set.liveInterfaces()) interface->setHIDDevice(nullptr);
  }
  r.sets.clear();
  r.managers.clear();
}

}  // namespace zv::device
