// The root of a loaded profile: one profile of node text for one device, seen as a tree
// of prototyped objects. It keeps the state of the device's buttons (latching controls
// toggle), chooses the active shift state from the buttons held, and routes every
// element event of the device to that state.
//
// Loading: make an object with create(), then loadFromJSON() with the profile's JSON
// (tevnodes2json of its node text), the prototype and the device. Loading again
// rebuilds the tree in the same object, so references held elsewhere stay valid; a
// shift state that was active is deactivated first, so nothing of the old tree keeps
// running. The clock of every wait of the profile's commands is set with setClock()
// before loading.
//
//   auto profile = ZVProfile::create();
//   profile->loadFromJSON(json, prototype, device, delegate);
//   profile->setActive();                      // current in the store, state chosen
//   profile->onElementEvent(0x90004, 1, 0);    // button 4 pressed
//
// The profile does not own its device (the device owns its profile store, which owns
// the profiles) and holds its delegate weakly.
//
// Threads: loading, element events and every operation here belong to the main thread.
// Commands run on threads of their own and reach the profile's settings only through
// its EngineContext, never through the profile, so destroying or reloading a profile
// while commands run is safe: they finish on the objects they hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "engine/ZVShiftState.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::device {
class DeviceController;
}
namespace zv::engine {
class Clock;
class EngineContext;
}  // namespace zv::engine

namespace zv::profile {

class ZVProfileNotifications;

class ZVProfile : public ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVProfile";
  const char* className() const override { return kClassName; }

  ZVProfile();
  // Cancels the current shift state's commands and stops its shift command, so no run of
  // this profile goes on without end.
  ~ZVProfile() override;

  static std::shared_ptr<ZVProfile> create();

  // Builds the tree from `prototype` (shared with the tree, which marks it) and `json`
  // (taken over as it is), for `device` with `delegate`. Answers `loaded`: false when
  // there is no JSON, or when the prototype has no member "profile" (the tree is built
  // but the profile counts as corrupt).
  bool loadFromJSON(json::DictionaryPtr json, json::DictionaryPtr prototype,
                    const std::shared_ptr<device::DeviceController>& device,
                    std::weak_ptr<ZVProfileNotifications> delegate = {});

  // Runs first among the nodes when a tree is set: forgets the previous tree's state
  // (deactivating its shift state), picks the current controller (the last entry of
  // "controllers" whose node value is the device's balias), collects the latching
  // controls and takes the held values of the other elements from the device's element
  // map.
  void loadCompleted(const ObjectPtr& root) override;

  // --- Fields -------------------------------------------------------------------------

  bool loaded() const { return loaded_; }
  std::shared_ptr<device::DeviceController> device() const { return device_.lock(); }
  const std::optional<std::filesystem::path>& path() const { return path_; }
  void setPath(std::optional<std::filesystem::path> path) { path_ = std::move(path); }
  std::shared_ptr<ZVProfileNotifications> delegate() const;
  void setDelegate(std::weak_ptr<ZVProfileNotifications> delegate);
  // When set, commands and actions are reported to the delegate instead of performed.
  bool useDelegateForActions() const;
  void setUseDelegateForActions(bool use);
  std::int32_t shiftStateIdx() const { return shiftStateIdx_; }
  void setShiftStateIdx(std::int32_t index) { shiftStateIdx_ = index; }
  ObjectPtr currentController() const { return currentController_; }
  std::shared_ptr<engine::ZVShiftState> currentShiftState() const { return currentShiftState_; }
  // Elements of controls marked latching.
  const std::map<std::uint32_t, bool>& latchableButtons() const { return latchableButtons_; }
  // The held value of each element as the profile sees it.
  const engine::ButtonState& buttonState() const { return buttonState_; }
  // The clock of the commands' waits (the real clock unless set); set it before loading.
  std::shared_ptr<engine::Clock> clock() const;
  void setClock(std::shared_ptr<engine::Clock> clock);
  // What the profile shares with its command runs.
  const std::shared_ptr<engine::EngineContext>& engineContext() const { return context_; }

  // --- Store ------------------------------------------------------------------------------

  // Whether the device's profile store has a current profile with this profile's path.
  bool isActive() const;
  // Makes this profile the store's current one (when the device has a store), then
  // chooses its shift state.
  void setActive();

  // --- Routing ----------------------------------------------------------------------------

  // Chooses the shift state for the buttons held: among the current controller's shift
  // states whose selection set is held, the one with the largest set wins (the earlier
  // one on equal counts), and a state without a set replaces any earlier choice. A new
  // choice deactivates the old state and activates the new one; with no candidate at all
  // the old state is deactivated but stays current.
  void updateActiveShiftState();
  // One element event of the device (`oldValue` is not used). A plain element's value
  // equal to the one held is ignored entirely; a latching element toggles its held state
  // on each non-zero value. Then the shift state is chosen and gets the event.
  void onElementEvent(std::uint32_t element, std::int32_t value, std::int32_t oldValue = 0);
  // Makes the current controller's shift state `index` current (unless `index` equals
  // shiftStateIdx); an index out of range changes nothing.
  void setShiftState(std::int32_t index);
  // Deactivates the current shift state and forgets it.
  void deactivate();
  // Cancels the current shift state's commands.
  void stopActiveCommands();

 private:
  std::shared_ptr<engine::EngineContext> context_;
  std::weak_ptr<device::DeviceController> device_;
  std::optional<std::filesystem::path> path_;
  bool loaded_ = false;
  std::int32_t shiftStateIdx_ = -1;
  ObjectPtr currentController_;
  std::shared_ptr<engine::ZVShiftState> currentShiftState_;
  std::map<std::uint32_t, bool> latchableButtons_;
  engine::ButtonState buttonState_;
};

}  // namespace zv::profile
