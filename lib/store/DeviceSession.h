// Connects one device controller's element events to the profile that runs. The agent
// routes its mouse through it, and so does everything that plays the agent's part: the
// editor's test mode, `kinetra simulate` and `kinetra events`, the live tests. The rules
// live here once:
//
//   1. While no profile runs (setNoProfile: "Clear" in the agent's menu, or the store
//      has no current profile), every event is dropped, before anything else.
//   2. An event whose value is at most 1 (a press, a release, a step of -1) first has the
//      application-linked switcher check the focused application, so that the profile
//      linked to it is current before the event arrives. Larger values (axis
//      percentages, wheel steps) skip the check.
//   3. The event goes, unchanged, to the profile: the current profile of the device's
//      profile store, or whatever the program names instead (setProfileSource; the
//      editor's test mode runs the profile it edits).
//
//   auto session = std::make_shared<store::DeviceSession>(device);
//   session->setSwitcher(switcher);
//   session->attach(agent);  // the agent still hears connects and device events
//
// The session becomes the controller's delegate; every delegate call but the element
// events goes on to the delegate given to attach(), held weakly. An observer hears each
// event (also a dropped one) and each change of the active shift state it caused.
//
// Threads: the main thread, where the controller delivers its events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "device/DeviceController.h"

namespace zv::engine {
class ZVProfile;
class ZVShiftState;
}  // namespace zv::engine

namespace zv::store {

class ZVProfileSwitcher;

// What a session tells whoever follows its events (the agent's record, kinetra's output).
// Every operation is optional.
class DeviceSessionObserver {
 public:
  virtual ~DeviceSessionObserver() = default;
  // An element event, before the profile has it; `routed` is false when it is dropped.
  virtual void elementEvent(std::uint32_t /*element*/, std::int32_t /*value*/, bool /*routed*/) {}
  // The profile's active shift state changed while it handled the event.
  virtual void shiftStateChanged(const std::shared_ptr<engine::ZVShiftState>& /*before*/,
                                 const std::shared_ptr<engine::ZVShiftState>& /*after*/) {}
};

class DeviceSession : public device::DeviceControllerDelegate,
                      public std::enable_shared_from_this<DeviceSession> {
 public:
  // The profile that receives the events; null: none (they are dropped).
  using ProfileSource = std::function<std::shared_ptr<engine::ZVProfile>()>;

  explicit DeviceSession(std::weak_ptr<device::DeviceController> device);

  // Becomes the device's delegate; `next` hears every other delegate call.
  void attach(std::weak_ptr<device::DeviceControllerDelegate> next = {});

  bool noProfile() const { return noProfile_; }
  void setNoProfile(bool noProfile) { noProfile_ = noProfile; }
  // The switcher that checks the focused application before presses and releases; none
  // by default.
  void setSwitcher(std::shared_ptr<ZVProfileSwitcher> switcher) { switcher_ = std::move(switcher); }
  // Default: the current profile of the device's profile store.
  void setProfileSource(ProfileSource source) { source_ = std::move(source); }
  void setObserver(std::weak_ptr<DeviceSessionObserver> observer) {
    observer_ = std::move(observer);
  }

  // The profile events go to now; null when there is none.
  std::shared_ptr<engine::ZVProfile> profile() const;

  // DeviceControllerDelegate: the element events are routed, the rest passed on.
  void onElementEvent(std::uint32_t element, std::int32_t value, std::int32_t oldValue) override;
  void deviceConnected(device::DeviceController& device, bool connected) override;
  void onDeviceEvent(const std::string& event) override;
  void deviceDpiMode(device::DeviceController& device, int mode) override;
  void deviceBatteryLevel(device::DeviceController& device, int level) override;
  void deviceConnectComplete(device::DeviceController& device) override;

 private:
  std::weak_ptr<device::DeviceController> device_;
  std::weak_ptr<device::DeviceControllerDelegate> next_;
  std::shared_ptr<ZVProfileSwitcher> switcher_;
  ProfileSource source_;
  std::weak_ptr<DeviceSessionObserver> observer_;
  bool noProfile_ = false;
};

}  // namespace zv::store
