#include "store/DeviceSession.h"

#include "engine/ZVProfile.h"
#include "engine/ZVShiftState.h"
#include "store/ZVProfileSwitcher.h"

namespace zv::store {

DeviceSession::DeviceSession(std::weak_ptr<device::DeviceController> device)
    : device_(std::move(device)) {}

void DeviceSession::attach(std::weak_ptr<device::DeviceControllerDelegate> next) {
  next_ = std::move(next);
  if (const auto device = device_.lock()) device->setDelegate(weak_from_this());
}

std::shared_ptr<engine::ZVProfile> DeviceSession::profile() const {
  if (source_) return source_();
  const auto device = device_.lock();
  const auto store = device ? device->profileStore() : nullptr;
  return store ? store->currentProfile() : nullptr;
}

void DeviceSession::onElementEvent(std::uint32_t element, std::int32_t value,
                                   std::int32_t oldValue) {
  const auto observer = observer_.lock();
  if (noProfile_) {
    if (observer) observer->elementEvent(element, value, false);
    return;
  }
  if (value <= 1 && switcher_) switcher_->check();
  const auto current = profile();
  if (observer) observer->elementEvent(element, value, current != nullptr);
  if (!current) return;
  if (!observer) return current->onElementEvent(element, value, oldValue);
  const auto before = current->currentShiftState();
  current->onElementEvent(element, value, oldValue);
  const auto after = current->currentShiftState();
  if (after != before) observer->shiftStateChanged(before, after);
}

void DeviceSession::deviceConnected(device::DeviceController& device, bool connected) {
  if (const auto next = next_.lock()) next->deviceConnected(device, connected);
}

void DeviceSession::onDeviceEvent(const std::string& event) {
  if (const auto next = next_.lock()) next->onDeviceEvent(event);
}

void DeviceSession::deviceDpiMode(device::DeviceController& device, int mode) {
  if (const auto next = next_.lock()) next->deviceDpiMode(device, mode);
}

void DeviceSession::deviceBatteryLevel(device::DeviceController& device, int level) {
  if (const auto next = next_.lock()) next->deviceBatteryLevel(device, level);
}

void DeviceSession::deviceConnectComplete(device::DeviceController& device) {
  if (const auto next = next_.lock()) next->deviceConnectComplete(device);
}

}  // namespace zv::store
