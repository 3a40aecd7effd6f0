// What the engine objects of one profile share with the command runs they start: the
// clock of every wait, delegate mode and the delegate, and the device (for its driver
// interface). The profile owns it and every object of its tree keeps a reference, so a
// command run reaches none of these through the profile itself: a run keeps working,
// on the objects it holds, while the profile is rebuilt or destroyed on the main thread.
//
// Threads: every accessor may be called from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "engine/Clock.h"

namespace zv::device {
class DeviceController;
class DriverOperations;
}  // namespace zv::device

namespace zv::engine {

class ZVProfileNotifications;

// The real clock, as a shared pointer that never deletes it.
std::shared_ptr<Clock> steadyClock();

class EngineContext {
 public:
  explicit EngineContext(std::shared_ptr<Clock> clock = steadyClock());

  // Action blocks and commands take the clock when their profile is loaded: set it
  // before loading.
  std::shared_ptr<Clock> clock() const;
  void setClock(std::shared_ptr<Clock> clock);

  bool useDelegateForActions() const { return useDelegate_.load(std::memory_order_acquire); }
  void setUseDelegateForActions(bool use) { useDelegate_.store(use, std::memory_order_release); }

  // nullptr when there is none or it is gone.
  std::shared_ptr<ZVProfileNotifications> delegate() const;
  void setDelegate(std::weak_ptr<ZVProfileNotifications> delegate);

  // The device is not owned: the device owns its profile store, which owns the profiles.
  std::shared_ptr<device::DeviceController> device() const;
  void setDevice(std::weak_ptr<device::DeviceController> device);
  // The device's driver interface now; nullptr without device or driver interface.
  std::shared_ptr<device::DriverOperations> driver() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<Clock> clock_;
  std::weak_ptr<ZVProfileNotifications> delegate_;
  std::weak_ptr<device::DeviceController> device_;
  std::atomic<bool> useDelegate_{false};
};

}  // namespace zv::engine
