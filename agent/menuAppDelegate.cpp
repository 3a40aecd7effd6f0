#include "menuAppDelegate.h"

#include <cstring>
#include <system_error>

#include "device/DriverSets.h"
#include "device/ZVDeviceManager.h"
#include "engine/CommandThreads.h"
#include "engine/ZVProfile.h"
#include "engine/ZVShiftState.h"
#include "log/Log.h"
#include "output/Workspace.h"
#include "platform/Paths.h"
#include "store/ZVPreferencesFile.h"
#include "store/ZVProfileStore.h"
#include "store/ZVProfileSwitcher.h"

namespace zv::agent {

namespace fs = std::filesystem;
using log::ZVLogLevel;

namespace {

constexpr const char* kNoProfileSetting = "NoProfile";

std::string infoText(const support::Bundle& bundle, std::string_view key) {
  const json::Value value = bundle.objectForInfoDictionaryKey(key);
  return value.isString() ? value.asString() : std::string();
}

bool launchDetached(const fs::path& application, std::string* error) {
  const auto executable = output::applicationExecutable(application.string(), error);
  if (!executable) return false;
  const int failure = output::spawnDetached(*executable, {*executable});
  if (failure != 0) {
    if (error) *error = "cannot start " + *executable + ": " + std::strerror(failure);
    return false;
  }
  return true;
}

std::string shiftStateName(const std::shared_ptr<engine::ZVShiftState>& state) {
  return state ? state->name() : std::string();
}

// Hands what the device session routes to the agent's trace.
class SessionTrace : public store::DeviceSessionObserver {
 public:
  explicit SessionTrace(std::shared_ptr<AgentTrace> trace) : trace_(std::move(trace)) {}
  void elementEvent(std::uint32_t element, std::int32_t value, bool routed) override {
    trace_->elementEvent(element, value, routed);
  }
  void shiftStateChanged(const std::shared_ptr<engine::ZVShiftState>& before,
                         const std::shared_ptr<engine::ZVShiftState>& after) override {
    trace_->shiftStateChanged(shiftStateName(before), shiftStateName(after));
  }

 private:
  std::shared_ptr<AgentTrace> trace_;
};

}  // namespace

std::shared_ptr<menuAppDelegate> menuAppDelegate::create(AgentServices services) {
  return std::shared_ptr<menuAppDelegate>(new menuAppDelegate(std::move(services)));
}

menuAppDelegate::menuAppDelegate(AgentServices services) : services_(std::move(services)) {
  if (!services_.statusBar) services_.statusBar = std::make_shared<HeadlessStatusBar>();
  if (!services_.launchApplication) services_.launchApplication = launchDetached;
  if (!services_.frontmostApplication) {
    services_.frontmostApplication = [] {
      return store::ZVProfileSwitcher::sharedFrontmostApplication();
    };
  }
  if (services_.deviceFolders.empty()) {
    services_.deviceFolders = device::ZVDeviceManager::applicationDeviceFolders();
  }
  alias_ = infoText(services_.bundle, "Alias");
  brand_ = infoText(services_.bundle, "Brand");
}

menuAppDelegate::~menuAppDelegate() {
  if (preferencesObserver_) {
    support::NotificationCenter::defaultCenter().removeObserver(preferencesObserver_);
  }
}

// --- Application ---------------------------------------------------------------------------

void menuAppDelegate::applicationDidFinishLaunching() {
  // 1. Before any device or profile-store object: only the executive activates shift
  // states in the driver and starts with the start-up profile.
  device::DeviceController::setIsExecutive(true);
  // 2. The device; without one, wait for its bundle and go on from here then.
  if (findDevice()) return finishLaunching();
  std::string folders;
  for (const fs::path& folder : services_.deviceFolders) {
    folders += (folders.empty() ? "" : " and ") + folder.string();
  }
  ZV_LOG(ZVLogLevel::Critical, nullptr,
         "no device bundle describes the device '%@' (looked in %@); perch keeps running and "
         "starts as soon as one is installed",
         alias_, folders);
  if (services_.trace) services_.trace->waitingForDevice(alias_);
  bundleWatch_ = std::make_unique<DeviceBundleWatch>(
      services_.deviceFolders,
      [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || !self->findDevice()) return;
        // Not from inside the watch's own callback: finishing ends the watch.
        platform::RunLoop::main().post([weak] {
          if (const auto agent = weak.lock()) {
            agent->bundleWatch_.reset();
            agent->finishLaunching();
          }
        });
      },
      services_.bundleSettle);
}

bool menuAppDelegate::findDevice() {
  if (device_) return true;
  auto criteria = json::makeDictionary();
  criteria->set("Alias", json::Value(alias_));
  auto& manager = device::ZVDeviceManager::sharedDeviceManager();
  for (const fs::path& folder : services_.deviceFolders) {
    const device::ControllerList controllers = manager.scanFolder(folder, criteria);
    if (controllers.empty()) continue;
    device_ = controllers.front();
    device_->setDelegate(weak_from_this());
    return true;
  }
  return false;
}

void menuAppDelegate::finishLaunching() {
  if (started_ || terminated_) return;
  // 3. The status view.
  if (const auto icon = services_.bundle.pathForResource("MenuIcon.png")) statusView_.image = *icon;
  const std::weak_ptr<menuAppDelegate> weak = weak_from_this();
  statusView_.action = [weak] {
    if (const auto self = weak.lock()) self->showEditor();
  };
  statusView_.rightAction = [weak] {
    if (const auto self = weak.lock()) self->showMenu();
  };
  // 4. and 5. The observer first: creating the preferences file posts the notification
  // once, which shows or hides the status item.
  preferencesObserver_ = support::NotificationCenter::defaultCenter().addObserver(
      std::string(store::ZVPreferencesUpdatedNotification),
      [weak](const support::Notification& notification) {
        if (const auto self = weak.lock()) self->notifyVisiblityPreference(notification);
      });
  preferencesFile_ = store::ZVPreferencesFile::preferenceFileForBrand(brand_);
  // Without a file (no brand) nothing posts: the item is shown, as for a file without
  // "HideStatusMenu".
  if (!preferencesFile_) setMenuIsVisible(true);
  // 6. The store, made now when this is the device's first use, and its "NoProfile".
  if (!device_->profileStore()) device_->createProfileStore();
  const auto store = profileStore();
  session_ = std::make_shared<store::DeviceSession>(device_);
  session_->setNoProfile(store && store->noProfile());
  // 7. The menu, filled each time it shows.
  currentProfileMenu_.setDelegate(this);
  // 8.
  if (services_.trace) {
    sessionTrace_ = std::make_shared<SessionTrace>(services_.trace);
    session_->setObserver(sessionTrace_);
  }
  session_->attach(weak);
  if (store) store->setDelegate(weak);
  // 9. Links follow the focused application from now on.
  profileSwitcher_ = store::ZVProfileSwitcher::create(device_, services_.frontmostApplication());
  if (profileSwitcher_) profileSwitcher_->start();
  session_->setSwitcher(profileSwitcher_);
  started_ = true;
  noteCurrentProfile();
  // 10. Last, so that connect and element callbacks find every delegate in place.
  device::startMatching();
}

bool menuAppDelegate::applicationOpenFile(const std::string&) {
  return true;
}

void menuAppDelegate::applicationWillTerminate() {
  if (terminated_) return;
  terminated_ = true;
  bundleWatch_.reset();
  statusItem_.reset();
  if (preferencesObserver_) {
    support::NotificationCenter::defaultCenter().removeObserver(preferencesObserver_);
    preferencesObserver_ = 0;
  }
  profileSwitcher_.reset();
  // A provider that loaded a script into the desktop unloads it now.
  store::ZVProfileSwitcher::closeSharedFrontmostApplication();
  if (const auto store = profileStore()) {
    // Stops the shift state's commands and hands the overridden buttons back to the
    // driver, so the mouse works as a plain mouse once the agent is gone.
    if (const auto current = store->currentProfile()) current->deactivate();
  }
  // An aborted run lets go of the keys it holds before its thread ends.
  engine::CommandThreads::shared().cancelAndJoinAll();
  if (device_ && device_->connected()) {
    if (const auto driver = device_->driverInterface()) driver->setButtonStates(0);
  }
}

// --- Preferences -----------------------------------------------------------------------------

void menuAppDelegate::notifyVisiblityPreference(const support::Notification& notification) {
  std::int64_t hide = 0;
  if (notification.userInfo.isDictionary()) {
    const json::Value* value = notification.userInfo.asDictionary()->find("HideStatusMenu");
    if (value && value->isNumber()) hide = static_cast<std::int64_t>(value->asNumber());
  }
  setMenuIsVisible(hide == 0);
}

void menuAppDelegate::setMenuIsVisible(bool visible) {
  if (visible == statusItemShown() || terminated_) return;
  if (!visible) {
    statusItem_.reset();
    return;
  }
  statusItem_ = services_.statusBar->statusItemWithLength();
  if (!statusItem_) return;
  statusView_.toolTip = device_ ? device_->title() : std::string();
  statusItem_->setToolTip(device_ ? device_->name() : std::string());
  statusItem_->setView(statusView_);
  profileMenuNeedsUpdate_ = true;
}

// --- Status view actions -----------------------------------------------------------------------

void menuAppDelegate::showEditor() {
  if (!device_) return;
  fs::path application = platform::applicationsFolder() / (device_->title() + ".app");
  std::error_code ec;
  if (!fs::is_directory(application, ec)) {
    // A device without an editor of its own is edited with the suite's editor.
    const std::string editor = infoText(services_.bundle, "EditorApplication");
    if (!editor.empty()) application = platform::applicationsFolder() / (editor + ".app");
  }
  std::string error;
  if (!services_.launchApplication(application, &error)) {
    ZV_LOG(ZVLogLevel::Critical, nullptr, "cannot open the editor %@: %@", application, error);
  }
}

void menuAppDelegate::showMenu() {
  services_.statusBar->popUpMenu(currentProfileMenu_, statusView_);
}

// --- Profile menu ------------------------------------------------------------------------------

int menuAppDelegate::numberOfItemsInMenu(Menu&) {
  const auto store = profileStore();
  return static_cast<int>(store ? store->profileNames().size() : 0) + 2;
}

bool menuAppDelegate::menuUpdateItem(Menu& menu, MenuItem& item, int index, bool) {
  if (index == 0) {
    profileMenuInUpdate_ = profileMenuNeedsUpdate_;
    profileMenuNeedsUpdate_ = false;
  }
  if (!profileMenuInUpdate_) return true;
  const auto store = profileStore();
  const std::vector<std::string> names = store ? store->profileNames() : std::vector<std::string>();
  const auto at = static_cast<std::size_t>(index);
  MenuItem* entry = &item;
  if (entry->isSeparatorItem()) {
    menu.replaceItemAtIndex(at, MenuItem());
    entry = &menu.itemAtIndex(at);
  }
  entry->on = false;
  if (at < names.size()) {
    entry->title = names[at];
    entry->representedObject = names[at];
    entry->tag = index;
    entry->action = MenuAction::currentProfileSelect;
    entry->enabled = true;
    // Compared with the profile's own name, before the first entry takes its title.
    if (entry->title == currentProfileNameOfStore()) {
      entry->enabled = true;
      if (!noProfile()) entry->on = true;
    }
    if (index == 0) entry->title = localized("ZenvorDefault");
  } else if (at == names.size()) {
    menu.replaceItemAtIndex(at, MenuItem::separatorItem());
    entry = &menu.itemAtIndex(at);
  } else if (at == names.size() + 1) {
    entry->title = localized("Clear");
    entry->representedObject.clear();
    entry->action = MenuAction::clearProfile;
  }
  entry->target = this;
  return true;
}

void menuAppDelegate::performMenuAction(MenuAction action, const MenuItem& item) {
  switch (action) {
    case MenuAction::currentProfileSelect:
      return currentProfileSelect(item);
    case MenuAction::clearProfile:
      return clearProfile(item);
    case MenuAction::none:
      return;
  }
}

void menuAppDelegate::currentProfileSelect(const MenuItem& item) {
  if (session_) session_->setNoProfile(false);
  // The first entry shows a localized title, not the profile's name: the entry keeps the
  // name it stands for.
  const std::string& name = item.representedObject.empty() ? item.title : item.representedObject;
  if (const auto store = profileStore()) store->setCurrentProfileByName(name);
}

void menuAppDelegate::clearProfile(const MenuItem&) {
  if (const auto store = profileStore()) store->setNoProfile(true);
  if (session_) session_->setNoProfile(true);
  profileMenuNeedsUpdate_ = true;
  currentProfileMenu_.update();
  noteCurrentProfile();
}

// --- Device delegate ---------------------------------------------------------------------------

void menuAppDelegate::deviceConnected(device::DeviceController& device, bool connected) {
  profileMenuNeedsUpdate_ = true;
  if (connected) {
    if (const auto store = profileStore()) {
      if (const auto current = store->currentProfile()) current->updateActiveShiftState();
    }
  }
  if (services_.trace) services_.trace->deviceConnected(device, connected);
}

// --- Profile-store delegate -------------------------------------------------------------------

void menuAppDelegate::profileStoreUpdate(store::ZVProfileStore&) {
  profileMenuNeedsUpdate_ = true;
}

void menuAppDelegate::profileStoreDeleted(store::ZVProfileStore&) {}

void menuAppDelegate::activeProfileHasChanged() {
  profileMenuNeedsUpdate_ = true;
  const auto store = profileStore();
  if (session_) session_->setNoProfile(!store || !store->currentProfile());
  noteCurrentProfile();
}

void menuAppDelegate::startupProfileHasChanged() {
  // Choosing a start-up profile anywhere (the editor, kinetra startup) switches profiles
  // back on.
  const auto store = profileStore();
  if (!store) return;
  store->settings()->set(kNoProfileSetting, json::Value::boolean(false));
  store->writeSettings();
}

// --- Helpers -------------------------------------------------------------------------------------

std::shared_ptr<store::ZVProfileStore> menuAppDelegate::profileStore() const {
  return device_ ? std::dynamic_pointer_cast<store::ZVProfileStore>(device_->profileStore())
                 : nullptr;
}

std::string menuAppDelegate::localized(const std::string& key) const {
  return services_.bundle.localizedString(key);
}

std::string menuAppDelegate::currentProfileNameOfStore() const {
  const auto store = profileStore();
  const auto current = store ? store->currentProfile() : nullptr;
  return current ? current->string("profile") : std::string();
}

void menuAppDelegate::noteCurrentProfile() {
  if (!services_.trace || !started_) return;
  const auto store = profileStore();
  std::optional<std::string> name;
  if (!noProfile() && store && store->currentProfile()) name = currentProfileNameOfStore();
  if (tracedAnyProfile_ && name == tracedProfile_) return;
  tracedAnyProfile_ = true;
  tracedProfile_ = name;
  services_.trace->currentProfileChanged(name);
}

}  // namespace zv::agent
