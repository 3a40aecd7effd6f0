// The root of a loaded profile: one profile of node text for one device, seen as a tree
// of prototyped objects. It loads and saves its file, keeps the state of the device's
// buttons (latching controls toggle), chooses the active shift state from the buttons
// held, routes every element event of the device to that state, follows changes of its
// file on disk in the agent, and starts the editor.
//
// Loading: make an object with create(), set its clock if it is not the real one, then
// fill it with one of the init functions; each may be called again on the same object,
// which rebuilds the tree in place, so references held elsewhere stay valid (a shift
// state that was active is deactivated first, so nothing of the old tree keeps running).
//
//   auto profile = ZVProfile::create();
//   profile->initFromFile(path, device, delegate);   // or initWithString, initForDevice
//   profile->setActive();                            // current in the store, state chosen
//   profile->onElementEvent(0x90004, 1, 0);          // button 4 pressed
//
// A load that fails (a missing or unreadable file, text that does not convert) leaves a
// profile that is not loaded, has no tree and ignores events; one whose prototype has no
// member "profile" keeps its tree but is not loaded either. Both are logged at level 3.
//
// The node text is converted with the process's shared prototype (sharedPrototype():
// the running application's "tevnodes.prototype", parsed once; tools and tests set
// another). loadFromJSON() is the seam below the text: it takes converted JSON and a
// prototype of the caller's.
//
// Files: profiles are UTF-16 node text with a byte-order mark. A save converts the whole
// tree, checks that the text reads back and replaces the file atomically; a save that
// cannot convert leaves every file as it was. In the agent (the executive process) a
// loaded profile watches its file: a rename on disk renames it, an atomic replacement
// reloads it in place (unless the delegate vetoes), a deletion is reported and the
// profile stays in memory.
//
// The profile does not own its device (the device owns its profile store, which owns
// the profiles) and holds its delegate weakly.
//
// Threads: loading, saving, element events, the file-watch reactions and every other
// operation here belong to the main thread (the run loop that delivers device and file
// events). Commands run on threads of their own and reach the profile's settings only
// through its EngineContext, never through the profile, so destroying or reloading a
// profile while commands run is safe: they finish on the objects they hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ZVShiftState.h"
#include "platform/VDKQueue.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::device {
class DeviceController;
}
namespace zv::engine {

class Clock;
class EngineContext;
class ZVProfileNotifications;

class ZVProfile : public profile::ZVPrototypedObject, public platform::VDKQueueDelegate {
 public:
  static constexpr const char* kClassName = "ZVProfile";
  const char* className() const override { return kClassName; }

  ZVProfile();
  // Cancels the current shift state's commands and stops its shift command, so no run of
  // this profile goes on without end, and stops watching the file.
  ~ZVProfile() override;

  static std::shared_ptr<ZVProfile> create();

  // --- Loading from text, file and seed ---------------------------------------------------
  // Each answers `loaded`; on failure `error` (when given) says why, in words for a user.

  // Converts the node text (newlines taken as blanks) with the shared prototype and
  // builds the tree for `device` with `delegate`.
  bool initWithString(std::string_view text,
                      const std::shared_ptr<device::DeviceController>& device,
                      std::weak_ptr<ZVProfileNotifications> delegate = {},
                      std::string* error = nullptr);
  // Loads the profile file at `path` (none: as initForDevice). A missing file is first
  // recreated from the store's seed for that path. Sends the system-log notice "Loading
  // profile at: PATH". In the agent, watches the file. When the profile takes the file's
  // name (checkName), the delegate hears profileWasRenamed.
  bool initFromFile(const std::optional<std::filesystem::path>& path,
                    const std::shared_ptr<device::DeviceController>& device,
                    std::weak_ptr<ZVProfileNotifications> delegate = {},
                    std::string* error = nullptr);
  // Loads the device's seed profile (its "SeedProfile" resource) and, when the profile
  // has no path yet, gives it the store's path for its name. Watches nothing.
  bool initForDevice(const std::shared_ptr<device::DeviceController>& device,
                     std::weak_ptr<ZVProfileNotifications> delegate = {},
                     std::string* error = nullptr);
  // A new profile loaded from the device's store's seed path (the bundle's seed when the
  // device has no store), without delegate.
  static std::shared_ptr<ZVProfile> defaultProfileForDevice(
      const std::shared_ptr<device::DeviceController>& device);

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
  void loadCompleted(const profile::ObjectPtr& root) override;

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
  profile::ObjectPtr currentController() const { return currentController_; }
  std::shared_ptr<ZVShiftState> currentShiftState() const { return currentShiftState_; }
  // Elements of controls marked latching.
  const std::map<std::uint32_t, bool>& latchableButtons() const { return latchableButtons_; }
  // The held value of each element as the profile sees it.
  const ButtonState& buttonState() const { return buttonState_; }
  // The clock of the commands' waits (the real clock unless set); set it before loading.
  std::shared_ptr<Clock> clock() const;
  void setClock(std::shared_ptr<Clock> clock);
  // What the profile shares with its command runs.
  const std::shared_ptr<EngineContext>& engineContext() const { return context_; }

  // --- Files ------------------------------------------------------------------------------

  // saveToPath(path()); false when the profile has no path.
  bool save(std::string* error = nullptr);
  // Saves the whole tree as node text to `path`. A path other than the current one
  // becomes the profile's path: the old file is no longer watched, a new file is first
  // created empty (an existing one is left for the atomic write to replace), and the
  // new one is watched. The profile takes the file's name (checkName), the text is
  // written atomically as UTF-16 with a byte-order mark, and shiftStateIdx becomes -1.
  // A profile without tree, or a tree that does not convert to text that reads back,
  // writes nothing and answers false with `error` set.
  bool saveToPath(const std::filesystem::path& path, std::string* error = nullptr);
  // Gives the member "profile" the file name of path() without its extension when they
  // differ; answers whether it did. False without path or tree.
  bool checkName();
  // Whether path() is the store's seed path.
  bool isSeed() const;
  // Reloads the profile from the store's seed for its path, keeping the path and taking
  // the file's name; the delegate is dropped. Nothing is written.
  void reset();

  // The file-watch delegate: the agent's reactions to changes of the profile's file
  // (other processes ignore them). A rename takes the notified path and the file's name;
  // a deletion with a file at the path again (an atomic save replaced it) reloads the
  // profile in place unless the delegate's profileHasChangedOnDisk answers false; a
  // deletion without a file is reported with profileWasDeleted. Either way a file found
  // at the path is watched again.
  void VDKQueueReceivedNotification(platform::VDKQueue& queue, std::string_view notification,
                                    const std::string& path) override;
  // The watch on the profile's file; nullptr when there is none.
  const std::shared_ptr<platform::VDKQueue>& fileWatcher() const { return fileWatcher_; }

  // --- Class operations ---------------------------------------------------------------------

  // The controller aliases of the profile file at `path` (ProfileControllersCache.h).
  static std::optional<std::vector<std::string>> controllersInFile(
      const std::filesystem::path& path);
  // Whether the ".pr0" file at `path` names the device's "Balias" among its controllers;
  // false also when it cannot be read.
  static bool isProfileAtPath(const std::filesystem::path& path,
                              const device::DeviceController& device);
  // Starts the editor for the profile at `path` with a hand-over file naming the device
  // by its udid, name and identifiers, or by its balias (EditorHandOver.h).
  static bool invokeEditorForProfileUsingAlias(const std::filesystem::path& path,
                                               const device::DeviceController& device,
                                               std::string* error = nullptr);
  static bool invokeEditorForProfileUsingBalias(const std::filesystem::path& path,
                                                const device::DeviceController& device,
                                                std::string* error = nullptr);

  // The prototype every profile of the process converts and builds with: the running
  // application's "tevnodes.prototype", read once; nullptr when there is none. Tools
  // and tests set their own (also for controllersInFile); nullptr goes back to the
  // bundled one. Profiles share it: building a tree marks it once and then only reads it.
  static json::DictionaryPtr sharedPrototype();
  static void setSharedPrototype(json::DictionaryPtr prototype);

  // "profile 'NAME' at PATH", for log lines.
  std::string description() const;

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
  std::shared_ptr<EngineContext> context_;
  std::weak_ptr<device::DeviceController> device_;
  // Forgets the tree after a failed load: no state runs, no controller, no JSON.
  void dropTree();
  bool failLoad(std::string_view what, std::string_view reason, std::string* error);
  void watch(const std::filesystem::path& path);
  void stopWatching();

  std::optional<std::filesystem::path> path_;
  std::shared_ptr<platform::VDKQueue> fileWatcher_;
  bool loaded_ = false;
  std::int32_t shiftStateIdx_ = -1;
  profile::ObjectPtr currentController_;
  std::shared_ptr<ZVShiftState> currentShiftState_;
  std::map<std::uint32_t, bool> latchableButtons_;
  ButtonState buttonState_;
};

}  // namespace zv::engine
