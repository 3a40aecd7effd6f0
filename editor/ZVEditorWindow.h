// The editor's main window: the HTML window of the device bundle's "Interface" page with
// everything the page needs to edit the profiles of one device. Its script operations
// are listed with the bridge (ScriptObjects.h, EditorScriptObject); this class carries
// them out and sends the events into the page.
//
// The window never runs profiles for real: element events reach the edited profile only
// in test mode, and then its actions come back to the page instead of reaching the
// desktop. Changes reach the agent through the files the library watches (profiles, the
// store's info file, mappings.xml); changes by the agent or a tool come back the same
// way, as "editor:profileList" and "editor:activeProfileChanged".
//
// The page: the file the device bundle names as "Interface", in the bundle's resources;
// for a bundle that names none (any mouse the suite adopts), the editor's own page, which
// draws the mouse from the device's controls and the bundle's "EditorLayout".
//
// Edited profile: the store's current profile when the window opens (the store's first
// profile in the no-profile state, so that the page always has one to show); it changes
// only with setProfile, newProfile and deleteProfile, never by itself.
//
// deleteProfile(name) deletes the profile and its application links and then edits the
// profile listed just before it; when the store refuses the deletion, the profile keeps
// its links and stays the edited one. The first profile of the list (the bundle's default)
// and a name that is not listed have no profile before them: the call does nothing and
// the log says why.
//
// Threads: the GUI thread, which also dispatches the main run loop (where device, store
// and update callbacks arrive). Actions in test mode come from command threads: their
// page calls are queued to the main loop, as are the system events.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DeviceAccess.h"
#include "EditorPlatform.h"
#include "ZVHTMLWindow.h"
#include "device/DeviceController.h"
#include "engine/ZVProfileNotifications.h"
#include "store/DeviceSession.h"
#include "store/ZVProfileStoreDelegate.h"
#include "update/ZVSoftwareUpdate.h"
#include "update/ZVSoftwareUpdateDelegate.h"

namespace zv::engine {
class ZVProfile;
}
namespace zv::platform {
class FrontmostApplication;
}
namespace zv::store {
class ZVProfileStore;
class ZVProfileSwitcher;
}  // namespace zv::store

namespace zv::editor {

struct EditorWindowOptions {
  // The focused-application provider the switcher follows; none: links stay inactive,
  // and `frontmostUnavailable` says why.
  std::shared_ptr<platform::FrontmostApplication> frontmost;
  std::string frontmostUnavailable;
  // The software update's options (a test's update location and installer).
  update::ZVSoftwareUpdateOptions update;
  // Asks the driver for exclusive use of the mouse (test mode) or gives it up. Default:
  // the device's driver interface, when it has one.
  std::function<void(bool exclusive)> setExclusive;
  // The key tap's owner (default: a keyboard on the process's tap services).
  std::shared_ptr<output::ZVKeyboard> keyboard;
  // The page file to load instead of the device bundle's "Interface" (devel mode).
  std::string page;
  // Where the editor's own page is, for a device bundle that names no "Interface"
  // (default: "page" in the editor's resources).
  std::filesystem::path ownPageFolder;
  // The device nodes this user cannot open (DeviceAccess.h): the page shows what will not
  // work and how to fix it.
  std::vector<RefusedNode> refusedNodes;
  // Called when the page cannot be loaded, with the reason (the window never shows).
  std::function<void(const std::string& reason)> pageFailed;
};

// The editor's own page, in its resources' "page" folder.
inline constexpr const char* kOwnPageFile = "Editor.html";

class ZVEditorWindow : public ZVHTMLWindow,
                       public device::DeviceControllerDelegate,
                       public engine::ZVProfileNotifications,
                       public store::ZVProfileStoreDelegate,
                       public update::ZVSoftwareUpdateDelegate,
                       public std::enable_shared_from_this<ZVEditorWindow> {
 public:
  // The favourites file's name in the "Common" folder.
  static constexpr const char* kFavouritesFileName = "Favourites.xml";

  // initWithDevice:. `host` and `platform` must outlive the window. The page named by the
  // device bundle's "Interface" starts loading; the window shows itself once it has
  // loaded and its load events are sent.
  static std::shared_ptr<ZVEditorWindow> create(HTMLWindowHost& host, EditorPlatform& platform,
                                                std::shared_ptr<device::DeviceController> device,
                                                EditorWindowOptions options = {});
  ~ZVEditorWindow() override;

  // --- Script operations (see ScriptObjects.h for what the page sees) ---------------------
  // False (and the log says why) when nothing was written: the default profile, which is
  // read-only, or a failed save.
  bool save();
  std::vector<std::string> profileList() const;
  void setProfileByName(const std::string& name);
  void setDeviceActionCallback(const std::string& functionName);
  void newProfile();
  void deleteProfile(const std::string& name);
  void renameProfile(const std::string& oldName, const std::string& newName);
  void resetProfile();
  std::string activeProfile() const;
  void setActiveProfile(const std::string& name);
  std::string startupProfile() const;
  void setStartupProfile(const std::string& name);
  std::string profileJSON() const;
  // False when the profile and its file are left as they were: JSON that does not parse,
  // a profile that would not read back, the read-only default profile.
  bool setProfileJSON(const std::string& json);
  void openAppLinkDialogForProfile(const std::string& profileName);
  void unlinkApp(const std::string& application, const std::string& profileName);
  std::vector<std::string> appsLinkedToProfile(const std::string& profileName) const;
  // Whether links to applications switch profiles here, for the page's Applications view.
  struct FocusStatus {
    bool linksWork = false;  // a provider hears the focus
    bool canLink = false;    // a provider exists: links work once `reason` is remedied
    std::string provider;    // "GNOME Shell", "X11", …; empty without one
    std::string reason;      // why links do not work (yet), with what to do; empty when they do
  };
  FocusStatus focusStatus() const;
  // The program a chosen application path is linked as: the file its symbolic links lead
  // to, as the focus providers report it. A path that does not resolve stays as given.
  static std::string linkedProgram(const std::string& application);
  // The name of the application at `path`: an application folder's CFBundleExecutable,
  // an installed application's name, else an executable's file name. `path` may also be
  // a link key ("file:/usr/bin/x"). Nothing when it is none of these.
  static std::optional<std::string> appNameAtPath(const std::string& path);
  std::string commandXML() const;
  std::optional<std::string> favouriteCommandJSON() const;
  void setFavouriteCommandJSON(const std::string& text);
  std::string browseForImagePath();
  // The file or program an "open" action opens, from a file chooser; '' when cancelled.
  std::string chooseFileToOpen();
  // The text of the device bundle's "EditorLayout" file (where the page draws the
  // controls); nothing when the bundle names none or it cannot be read.
  std::optional<std::string> deviceLayoutJSON() const;
  const std::vector<RefusedNode>& refusedNodes() const { return options_.refusedNodes; }
  void systemMouseSettings();
  void openURL(const std::string& url);
  void startUpdateDownload();
  std::int32_t downloadPercentage() const;
  void installUpdate();
  std::optional<std::string> updateVersion() const;
  void updateIsDownloaded() {}
  std::string languageNameForLocale(const std::string& locale) const;
  std::string currentLocale() const;
  // Hides the window, sends "editor:closing", then closes it once the page has run its
  // handlers.
  void close() override;

  // --- State --------------------------------------------------------------------------------
  const std::shared_ptr<device::DeviceController>& device() const { return device_; }
  const std::shared_ptr<engine::ZVProfile>& profile() const { return profile_; }
  std::shared_ptr<store::ZVProfileStore> profileStore() const;
  const std::shared_ptr<store::ZVProfileSwitcher>& profileSwitcher() const { return switcher_; }
  update::ZVSoftwareUpdate& softwareUpdate() const { return *softwareUpdate_; }
  const std::filesystem::path& favouritesPath() const { return favouritesPath_; }
  bool testMode() const;
  // "com.Zenvor.ProfileEditor.<device name>": where the frame is kept.
  const std::string& frameName() const { return frameName_; }
  bool canBecomeKeyWindow() const override { return true; }

  // --- From the window system -------------------------------------------------------------
  void pageGlobalsCreated() override;
  void pageLoaded(bool ok, const std::string& error) override;
  // The user moved or resized the window.
  void frameChanged(const Rect& frame);

  // --- Delegate calls -----------------------------------------------------------------------
  void deviceConnected(device::DeviceController& device, bool connected) override;
  void onProfileActionWithPage(std::uint32_t page, std::uint32_t usage, std::uint32_t value,
                               const std::string& string) override;
  void profileStoreUpdate(store::ZVProfileStore& store) override;
  void profileStoreDeleted(store::ZVProfileStore& store) override;
  void activeProfileHasChanged() override;
  void softwareUpdateNewVersionAvailable(update::ZVSoftwareUpdate& updater,
                                         const std::string& version) override;
  void softwareUpdateDownloadProgress(update::ZVSoftwareUpdate& updater, int percentage) override;
  void softwareUpdateDownloadComplete(update::ZVSoftwareUpdate& updater) override;

  // The texts evaluated for the two kinds of events.
  static std::string editorEventScript(const std::string& name);
  static std::string systemEventScript(const std::string& name);

 private:
  ZVEditorWindow(HTMLWindowHost& host, EditorPlatform& platform,
                 std::shared_ptr<device::DeviceController> device, EditorWindowOptions options);
  void initialize();
  // Evaluated at once.
  void sendEditorEvent(const std::string& name);
  // Queued to the main loop; from any thread.
  void sendSystemEvent(const std::string& name);
  // Makes `profile` the edited profile, with this window as its delegate.
  void editProfile(std::shared_ptr<engine::ZVProfile> profile);
  std::shared_ptr<engine::ZVProfile> storeCurrentProfile() const;
  // The edited profile is the device bundle's default profile.
  bool editsDefaultProfile() const;

  EditorPlatform& platform_;
  std::shared_ptr<device::DeviceController> device_;
  EditorWindowOptions options_;
  std::shared_ptr<engine::ZVProfile> profile_;
  std::shared_ptr<store::ZVProfileSwitcher> switcher_;
  // Routes the device's element events (see initialize()).
  std::shared_ptr<store::DeviceSession> session_;
  std::unique_ptr<update::ZVSoftwareUpdate> softwareUpdate_;
  std::filesystem::path favouritesPath_;
  std::string frameName_;
  mutable std::mutex callbackMutex_;
  std::string actionJSCallback_;  // guarded: command threads read it
  bool closing_ = false;
};

}  // namespace zv::editor
