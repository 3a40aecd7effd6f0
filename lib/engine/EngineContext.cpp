#include "engine/EngineContext.h"

#include "device/DeviceController.h"
#include "engine/ZVProfileNotifications.h"

namespace zv::engine {

std::shared_ptr<Clock> steadyClock() {
  return std::shared_ptr<Clock>(&Clock::steady(), [](Clock*) {});
}

EngineContext::EngineContext(std::shared_ptr<Clock> clock)
    : clock_(clock ? std::move(clock) : steadyClock()) {}

std::shared_ptr<Clock> EngineContext::clock() const {
  std::lock_guard lock(mutex_);
  return clock_;
}

void EngineContext::setClock(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(mutex_);
  clock_ = clock ? std::move(clock) : steadyClock();
}

std::shared_ptr<ZVProfileNotifications> EngineContext::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void EngineContext::setDelegate(std::weak_ptr<ZVProfileNotifications> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<device::DeviceController> EngineContext::device() const {
  std::lock_guard lock(mutex_);
  return device_.lock();
}

void EngineContext::setDevice(std::weak_ptr<device::DeviceController> device) {
  std::lock_guard lock(mutex_);
  device_ = std::move(device);
}

std::shared_ptr<device::DriverOperations> EngineContext::driver() const {
  const std::shared_ptr<device::DeviceController> device = this->device();
  return device ? device->driverInterface() : nullptr;
}

}  // namespace zv::engine
