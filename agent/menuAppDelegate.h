// The agent's application delegate: it does all of perch's work. It marks the process as
// the one that runs profiles, finds the device the agent serves (the first device of the
// installed bundles whose "Alias" is the agent's own), shows the status item, keeps the
// profile menu, routes every element event of the device to the current profile and
// reacts to the device, the profile store and the preferences file. Everything else is
// the library's; the delegate wires its pieces together. It has no window and shows no
// dialog.
//
// Start-up (applicationDidFinishLaunching), in this order, because each step needs the
// ones before it: the executive flag; the device scan; the status view; the observer of
// "ZVPreferencesUpdated", then the preferences file, whose creation posts it once (so
// the status item is shown or hidden from the first moment); "NoProfile" from the
// store; the menu; the delegates of the device and its store; the application-linked
// switcher; last, HID matching, so that connect and element callbacks find every
// delegate in place. When no bundle describes the device yet, the agent says so once and
// watches the device folders; the rest of the start-up runs when a bundle appears.
//
// Element events: dropped while no profile runs (noProfile); for values up to 1 (button
// presses and releases, a centred hat) the switcher first applies the link of the
// focused application, so that its profile gets the event; larger values (axis and
// wheel deltas) go straight to the current profile.
//
// Threads: the main thread only, where the library delivers every callback. The agent
// starts no thread and takes no lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeviceBundleWatch.h"
#include "Menu.h"
#include "StatusBar.h"
#include "ZVStatusView.h"
#include "device/DeviceController.h"
#include "platform/FrontmostApplication.h"
#include "store/DeviceSession.h"
#include "store/ZVProfileStoreDelegate.h"
#include "support/Bundle.h"
#include "support/NotificationCenter.h"

namespace zv::store {
class ZVPreferencesFile;
class ZVProfileStore;
class ZVProfileSwitcher;
}  // namespace zv::store

namespace zv::agent {

// Told what the agent does, for `perch --output record` and tests. Every operation is
// optional. Called on the main thread.
class AgentTrace {
 public:
  virtual ~AgentTrace() = default;
  // An element event of the device; `routed` is false when it was dropped (no profile).
  virtual void elementEvent(std::uint32_t /*element*/, std::int32_t /*value*/, bool /*routed*/) {}
  // The current profile's active shift state changed while it handled an event.
  virtual void shiftStateChanged(const std::string& /*from*/, const std::string& /*to*/) {}
  // The current profile changed; nothing when no profile runs.
  virtual void currentProfileChanged(const std::optional<std::string>& /*name*/) {}
  virtual void deviceConnected(const device::DeviceController& /*device*/, bool /*connected*/) {}
  // The scan found no device bundle for the agent's alias (said once per wait).
  virtual void waitingForDevice(const std::string& /*alias*/) {}
};

// What the agent uses of its surroundings; tests replace each part.
struct AgentServices {
  // The agent's own application folder: "Alias", "Brand", "MenuIcon" and its texts.
  support::Bundle bundle{std::filesystem::path()};
  std::shared_ptr<StatusBar> statusBar;  // none: a HeadlessStatusBar
  // Starts the application at the path (an "<Name>.app" folder); false with `error` set
  // when it cannot. Default: its executable, detached.
  std::function<bool(const std::filesystem::path& application, std::string* error)>
      launchApplication;
  // The focused application; default: ZVProfileSwitcher::sharedFrontmostApplication().
  std::function<std::shared_ptr<platform::FrontmostApplication>()> frontmostApplication;
  // Where device bundles are looked for; default: ZVDeviceManager::applicationDeviceFolders().
  std::vector<std::filesystem::path> deviceFolders;
  // How long the folder watch waits after a change before the scan.
  std::chrono::milliseconds bundleSettle{300};
  std::shared_ptr<AgentTrace> trace;
};

class menuAppDelegate : public device::DeviceControllerDelegate,
                        public store::ZVProfileStoreDelegate,
                        public MenuDelegate,
                        public MenuTarget,
                        public std::enable_shared_from_this<menuAppDelegate> {
 public:
  static std::shared_ptr<menuAppDelegate> create(AgentServices services);
  ~menuAppDelegate() override;
  menuAppDelegate(const menuAppDelegate&) = delete;
  menuAppDelegate& operator=(const menuAppDelegate&) = delete;

  // --- Application ------------------------------------------------------------------------
  // The start-up sequence (see above). Call once, with the main run loop about to run.
  void applicationDidFinishLaunching();
  // Accepts any file and does nothing with it; answers success.
  bool applicationOpenFile(const std::string& path);
  // Before the process ends: the current profile stops (its commands end and let go of
  // every key and button they hold; the driver gets its buttons back) and every command
  // thread is joined. Safe to call more than once.
  void applicationWillTerminate();

  // --- Preferences ------------------------------------------------------------------------
  // Observer of "ZVPreferencesUpdated": "HideStatusMenu" read as an integer (absent: 0),
  // non-zero hides the status item.
  void notifyVisiblityPreference(const support::Notification& notification);
  // Shows (one) or removes the status item; a call that would not change the state does
  // nothing.
  void setMenuIsVisible(bool visible);

  // --- Status view actions ------------------------------------------------------------------
  // Launches "<Applications>/<device title>.app"; when no such application is installed,
  // the suite's editor named by the agent's "EditorApplication" instead.
  void showEditor();
  void showMenu();

  // --- Profile menu -----------------------------------------------------------------------
  int numberOfItemsInMenu(Menu& menu) override;
  bool menuUpdateItem(Menu& menu, MenuItem& item, int index, bool shouldCancel) override;
  void performMenuAction(MenuAction action, const MenuItem& item) override;
  // Makes the entry's profile current and resumes execution.
  void currentProfileSelect(const MenuItem& item);
  // Records that no profile runs, and updates the menu.
  void clearProfile(const MenuItem& item);

  // --- Device delegate ----------------------------------------------------------------------
  // The element events go through the device session (store/DeviceSession.h), which drops
  // them while no profile runs and has the switcher check the focused application first.
  void deviceConnected(device::DeviceController& device, bool connected) override;

  // --- Profile-store delegate ---------------------------------------------------------------
  void profileStoreUpdate(store::ZVProfileStore& store) override;
  void profileStoreDeleted(store::ZVProfileStore& store) override;
  void activeProfileHasChanged() override;
  void startupProfileHasChanged() override;

  // --- State --------------------------------------------------------------------------------
  const std::shared_ptr<device::DeviceController>& device() const { return device_; }
  std::shared_ptr<store::ZVProfileStore> profileStore() const;
  ZVStatusView& statusView() { return statusView_; }
  bool statusItemShown() const { return statusItem_ != nullptr; }
  const std::shared_ptr<store::ZVPreferencesFile>& preferencesFile() const {
    return preferencesFile_;
  }
  bool noProfile() const { return session_ && session_->noProfile(); }
  Menu& currentProfileMenu() { return currentProfileMenu_; }
  const std::shared_ptr<store::ZVProfileSwitcher>& profileSwitcher() const {
    return profileSwitcher_;
  }
  bool profileMenuNeedsUpdate() const { return profileMenuNeedsUpdate_; }
  bool profileMenuInUpdate() const { return profileMenuInUpdate_; }
  // Whether the start-up ran to its end (it waits while no device bundle matches).
  bool started() const { return started_; }
  const std::string& alias() const { return alias_; }

 private:
  explicit menuAppDelegate(AgentServices services);
  // Step 2: the scan; true when a device was found.
  bool findDevice();
  // Steps 3 to 10, once a device exists.
  void finishLaunching();
  std::string localized(const std::string& key) const;
  std::string currentProfileNameOfStore() const;
  void noteCurrentProfile();

  AgentServices services_;
  std::string alias_;
  std::string brand_;
  std::shared_ptr<device::DeviceController> device_;
  ZVStatusView statusView_;
  std::unique_ptr<StatusItem> statusItem_;
  std::shared_ptr<store::ZVPreferencesFile> preferencesFile_;
  std::shared_ptr<store::DeviceSession> session_;
  std::shared_ptr<store::DeviceSessionObserver> sessionTrace_;
  Menu currentProfileMenu_;
  std::shared_ptr<store::ZVProfileSwitcher> profileSwitcher_;
  bool profileMenuNeedsUpdate_ = false;
  bool profileMenuInUpdate_ = false;

  support::NotificationCenter::ObserverId preferencesObserver_ = 0;
  std::unique_ptr<DeviceBundleWatch> bundleWatch_;
  bool started_ = false;
  bool terminated_ = false;
  std::optional<std::string> tracedProfile_;
  bool tracedAnyProfile_ = false;
};

}  // namespace zv::agent
