#include "ZVEditorWindow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "CurrentLocale.h"
#include "DesktopEntries.h"
#include "ImageChooserPath.h"
#include "WindowPlacement.h"
#include "engine/ZVProfile.h"
#include "log/Log.h"
#include "platform/AtomicFile.h"
#include "platform/ReadFile.h"
#include "platform/RunLoop.h"
#include "store/ZVCommandStore.h"
#include "store/ZVProfileStore.h"
#include "store/ZVProfileSwitcher.h"
#include "support/Bundle.h"
#include "text/Unicode.h"

namespace zv::editor {

namespace {

using log::ZVLogLevel;

// Symbolic links are followed this deep, as the kernel does.
constexpr int kMaximumLinkDepth = 40;

// The text inside single quotes of a script: the action's string must stay one string,
// whatever it holds (a quote in a file name, a line feed).
std::string scriptStringContent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '<':
        out += "\\x3C";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static const char digits[] = "0123456789ABCDEF";
          out += "\\x";
          out += digits[c >> 4];
          out += digits[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  // U+2028 and U+2029 end a line in older script engines.
  for (const char* separator : {"\xE2\x80\xA8", "\xE2\x80\xA9"}) {
    for (auto at = out.find(separator); at != std::string::npos; at = out.find(separator, at)) {
      out.replace(at, 3, separator[2] == '\xA8' ? "\\u2028" : "\\u2029");
    }
  }
  return out;
}

// Where a write to `path` lands: the target of its symbolic links.
std::filesystem::path followLinks(std::filesystem::path path) {
  for (int depth = 0; depth < kMaximumLinkDepth; ++depth) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) return path;
    const auto target = std::filesystem::read_symlink(path, error);
    if (error) return path;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

std::string percentDecoded(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() + 0 && hex(text[i + 1]) >= 0 &&
        hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The device bundle's "Interface" page, or the editor's own: (resource folder, file).
std::pair<std::filesystem::path, std::string> pageOf(const device::DeviceController& device,
                                                     const EditorWindowOptions& options) {
  if (!options.page.empty()) return {device.bundle().resourcePath(), options.page};
  const auto page = device.bundle().objectForInfoDictionaryKey("Interface");
  if (page.isString() && !page.asString().empty()) {
    return {device.bundle().resourcePath(), page.asString()};
  }
  if (!options.ownPageFolder.empty()) return {options.ownPageFolder, kOwnPageFile};
  const auto editor = support::Bundle::main();
  return {editor ? editor->resourcePath() / "page" : std::filesystem::path("page"), kOwnPageFile};
}

// A file name of a bundle's resources that stays inside them.
bool insideResources(const std::string& file) {
  const auto normal = std::filesystem::path(file).lexically_normal();
  return !file.empty() && !normal.is_absolute() && !normal.empty() && *normal.begin() != "..";
}

}  // namespace

std::string ZVEditorWindow::linkedProgram(const std::string& application) {
  // The focus providers name a program by its resolved executable (/proc/PID/exe), so a
  // link is keyed by the file a path leads to (/usr/bin/firefox-esr → the real binary),
  // as `kinetra link` keys it.
  if (application.rfind("file:", 0) == 0 || application.empty() || application.front() != '/') {
    return application;
  }
  std::error_code error;
  const auto resolved = std::filesystem::canonical(application, error);
  return error ? application : resolved.string();
}

std::string ZVEditorWindow::editorEventScript(const std::string& name) {
  return "$(document).trigger('editor:" + name + "')";
}

std::string ZVEditorWindow::systemEventScript(const std::string& name) {
  return "$(document).trigger('" + name + "')";
}

std::shared_ptr<ZVEditorWindow> ZVEditorWindow::create(
    HTMLWindowHost& host, EditorPlatform& platform,
    std::shared_ptr<device::DeviceController> device, EditorWindowOptions options) {
  // The store is needed before the page file is known to the base class.
  device->createProfileStore();
  std::shared_ptr<ZVEditorWindow> window(
      new ZVEditorWindow(host, platform, std::move(device), std::move(options)));
  window->initialize();
  return window;
}

ZVEditorWindow::ZVEditorWindow(HTMLWindowHost& host, EditorPlatform& platform,
                               std::shared_ptr<device::DeviceController> device,
                               EditorWindowOptions options)
    : ZVHTMLWindow(host, pageOf(*device, options).first, pageOf(*device, options).second,
                   options.keyboard),
      platform_(platform),
      device_(std::move(device)),
      options_(std::move(options)) {}

void ZVEditorWindow::initialize() {
  // The editor runs no profile of the store: element events reach the profile it edits,
  // and only in test mode, where its actions are reported to the page. No profile is
  // switched off here and no switcher checks the focused application first.
  session_ = std::make_shared<store::DeviceSession>(device_);
  session_->setProfileSource([weak = weak_from_this()]() -> std::shared_ptr<engine::ZVProfile> {
    const auto window = weak.lock();
    return window && window->testMode() ? window->profile_ : nullptr;
  });
  session_->attach(std::weak_ptr<device::DeviceControllerDelegate>(shared_from_this()));
  auto store = profileStore();
  if (store) {
    store->setDelegate(std::weak_ptr<store::ZVProfileStoreDelegate>(shared_from_this()));
    auto current = storeCurrentProfile();
    if (!current) {
      // The no-profile state: edit the first profile so that the page has one to show.
      const auto names = store->profileNames();
      if (!names.empty()) current = store->profileWithName(names.front());
    }
    editProfile(std::move(current));
  }

  const auto common = store::ZVProfileStore::applicationSupportFolder() / "Common";
  std::error_code ignored;
  std::filesystem::create_directories(common, ignored);
  favouritesPath_ = common / kFavouritesFileName;

  switcher_ = store::ZVProfileSwitcher::create(device_, options_.frontmost);

  softwareUpdate_ = std::make_unique<update::ZVSoftwareUpdate>(device_, this, options_.update);
  std::string updateError;
  if (!softwareUpdate_->check(&updateError) && !updateError.empty()) {
    ZV_LOG(ZVLogLevel::Notice, nullptr, "no update check: %@", updateError);
  }

  frameName_ = "com.Zenvor.ProfileEditor." + device_->name();
  if (auto frame = platform_.savedFrame(frameName_)) host().setFrame(*frame);
}

ZVEditorWindow::~ZVEditorWindow() {
  if (softwareUpdate_) softwareUpdate_->setDelegate(nullptr);
}

std::shared_ptr<store::ZVProfileStore> ZVEditorWindow::profileStore() const {
  return std::dynamic_pointer_cast<store::ZVProfileStore>(device_->profileStore());
}

std::shared_ptr<engine::ZVProfile> ZVEditorWindow::storeCurrentProfile() const {
  auto store = profileStore();
  return store ? store->currentProfile() : nullptr;
}

void ZVEditorWindow::editProfile(std::shared_ptr<engine::ZVProfile> profile) {
  if (!profile) return;
  // Test mode belongs to the window, not to one profile: it goes on with the profile
  // edited next. The store hands out a new profile object for every name it is asked for,
  // so without this the next profile would perform its actions on the desktop and the
  // page would hear nothing.
  const bool testing = testMode();
  if (testing && profile_ && profile_ != profile) {
    profile_->stopActiveCommands();
    profile_->setUseDelegateForActions(false);
  }
  profile_ = std::move(profile);
  profile_->setDelegate(std::weak_ptr<engine::ZVProfileNotifications>(shared_from_this()));
  if (testing) {
    profile_->setUseDelegateForActions(true);
    profile_->updateActiveShiftState();
  }
}

bool ZVEditorWindow::testMode() const {
  std::lock_guard lock(callbackMutex_);
  return !actionJSCallback_.empty();
}

// --- Events -----------------------------------------------------------------------------------

void ZVEditorWindow::sendEditorEvent(const std::string& name) {
  invokeJavascript(editorEventScript(name));
}

void ZVEditorWindow::sendSystemEvent(const std::string& name) {
  platform::RunLoop::main().post([weak = weak_from_this(), script = systemEventScript(name)] {
    if (auto window = weak.lock()) window->invokeJavascript(script);
  });
}

void ZVEditorWindow::pageGlobalsCreated() {
  const std::string script = device_->editorJS();
  if (!script.empty()) invokeJavascript(script);
}

void ZVEditorWindow::pageLoaded(bool ok, const std::string& error) {
  ZVHTMLWindow::pageLoaded(ok, error);
  if (!ok) {
    // The window only shows once its page has loaded: without a page the user would see
    // nothing at all, so the owner is told (it says why and ends the editor).
    ZV_LOG(ZVLogLevel::Critical, nullptr, "the editor's page %@ could not be loaded: %@",
           (resourceFolder() / pageOf(*device_, options_).second).string(), error);
    if (options_.pageFailed) options_.pageFailed(error);
    return;
  }
  ZV_LOG(ZVLogLevel::Notice, nullptr, "page loaded");
  sendEditorEvent("update");
  sendEditorEvent("profileRenamed");
  if (device_->connectComplete()) sendSystemEvent("deviceConnectComplete");
  if (softwareUpdate_->availableVersion()) {
    sendSystemEvent("softwareUpdateAvailable");
    if (softwareUpdate_->downloadPercentage() == 100) {
      sendSystemEvent("softwareUpdateDownloadComplete");
    }
  }
  // Queued behind the system events: the page has had every load event when it shows.
  platform::RunLoop::main().post([weak = weak_from_this()] {
    if (auto window = weak.lock()) {
      // The first frame hangs off the screen's foot, and a saved one may be from a larger
      // screen: the window opens wholly on this one.
      window->host().setFrame(
          fitOnScreen(window->host().frame(), window->host().availableScreenArea()));
      window->host().setVisible(true);
      window->host().activate();
    }
  });
}

void ZVEditorWindow::frameChanged(const Rect& frame) {
  platform_.saveFrame(frameName_, frame);
}

void ZVEditorWindow::close() {
  if (closing_) return;
  closing_ = true;
  host().setVisible(false);
  // The page runs its closing handler before the window goes.
  host().evaluateThen(editorEventScript("closing"), [weak = weak_from_this()] {
    if (auto window = weak.lock()) window->ZVHTMLWindow::close();
  });
}

// --- Profiles ---------------------------------------------------------------------------------

bool ZVEditorWindow::editsDefaultProfile() const {
  auto store = profileStore();
  return store && profile_ && profile_->path() && !store->defaultProfilePath().empty() &&
         *profile_->path() == store->defaultProfilePath();
}

bool ZVEditorWindow::save() {
  if (!profile_) return false;
  if (editsDefaultProfile()) {
    // The default profile is the device bundle's own file (installed read-only, or the
    // source tree in devel mode): it is never written.
    ZV_LOG(ZVLogLevel::Error, nullptr, "not saving %@: the default profile is read-only",
           profile_->string("profile"));
    return false;
  }
  std::string error;
  if (!profile_->save(&error)) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "save failed: %@", error);
    return false;
  }
  return true;
}

std::vector<std::string> ZVEditorWindow::profileList() const {
  auto store = profileStore();
  return store ? store->profileNames() : std::vector<std::string>{};
}

void ZVEditorWindow::setProfileByName(const std::string& name) {
  auto store = profileStore();
  if (!store || !store->profileExistsWithName(name)) return;
  auto profile = store->profileWithName(name);
  if (!profile) return;
  editProfile(std::move(profile));
  sendEditorEvent("update");
}

void ZVEditorWindow::newProfile() {
  auto store = profileStore();
  if (!store) return;
  std::string error;
  auto profile = store->createUntitledProfile(&error);
  if (!profile) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "no new profile: %@", error);
    return;
  }
  editProfile(std::move(profile));
  sendEditorEvent("update");
}

void ZVEditorWindow::deleteProfile(const std::string& name) {
  auto store = profileStore();
  if (!store) return;
  const auto names = store->profileNames();
  const auto at = std::find(names.begin(), names.end(), name);
  if (at == names.end()) {
    ZV_LOG(ZVLogLevel::Notice, nullptr, "not deleting %@: no profile of that name", name);
    return;
  }
  if (at == names.begin()) {
    ZV_LOG(ZVLogLevel::Notice, nullptr,
           "not deleting %@: the first profile of the list has none before it to edit next", name);
    return;
  }
  const std::string previous = *(at - 1);
  std::string error;
  if (!store->deleteProfileWithName(name, &error)) {
    // The profile is still there: so are its links, and it stays the edited profile.
    ZV_LOG(ZVLogLevel::Error, nullptr, "deleting %@ failed: %@", name, error);
    return;
  }
  if (switcher_) {
    switcher_->removeProfile(name);
    switcher_->writeConfig();
  }
  setProfileByName(previous);
}

void ZVEditorWindow::renameProfile(const std::string& oldName, const std::string& newName) {
  auto store = profileStore();
  if (!store) return;
  const bool edited = profile_ && profile_->string("profile") == oldName;
  const auto oldPath = profile_ ? profile_->path() : std::nullopt;
  if (edited) profile_->setPath(store->pathForProfile(newName));
  std::string error;
  if (!store->renameProfile(oldName, newName, &error)) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "renaming %@ to %@ failed: %@", oldName, newName, error);
    // The file kept its name: so does the edited profile.
    if (edited) profile_->setPath(oldPath);
    return;
  }
  // The edited profile also takes the new name, so the page reads it and a later save
  // writes it.
  if (edited) profile_->checkName();
  if (switcher_) {
    switcher_->renameProfile(oldName, newName);
    switcher_->writeConfig();
  }
}

void ZVEditorWindow::resetProfile() {
  if (!profile_) return;
  profile_->stopActiveCommands();
  profile_->reset();
  // A reset reloads the profile without its delegate: the window takes it back, so test
  // mode keeps reporting to the page.
  profile_->setDelegate(std::weak_ptr<engine::ZVProfileNotifications>(shared_from_this()));
  if (testMode()) {
    profile_->setUseDelegateForActions(true);
    profile_->updateActiveShiftState();
  }
  sendEditorEvent("update");
}

std::string ZVEditorWindow::activeProfile() const {
  auto store = profileStore();
  // The store keeps the last profile's name through the no-profile state ("None" here, or
  // "Clear" in the tray): no profile is active then, whatever name it remembers.
  if (!store || store->noProfile()) return {};
  return store->currentProfileName();
}

void ZVEditorWindow::setActiveProfile(const std::string& name) {
  if (auto store = profileStore()) store->setCurrentProfileByName(name);
}

std::string ZVEditorWindow::startupProfile() const {
  auto store = profileStore();
  if (!store || store->noProfile()) return {};
  return store->startupProfileName();
}

void ZVEditorWindow::setStartupProfile(const std::string& name) {
  if (auto store = profileStore()) store->setStartupProfileByName(name);
}

std::string ZVEditorWindow::profileJSON() const {
  if (!profile_) return {};
  const std::string json = profile_->JSON();
  log::systemLogNotice("supplying json for profile: %@", profile_->string("profile"));
  log::systemLogNotice("%@", json);
  return json;
}

bool ZVEditorWindow::setProfileJSON(const std::string& json) {
  if (!profile_) return false;
  if (editsDefaultProfile()) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "profile JSON refused: the default profile is read-only");
    return false;
  }
  const std::string before = profile_->JSON();
  json::Error error;
  if (!profile_->setJSON(json, &error)) {
    // Nothing changed: the profile keeps its content and its file.
    ZV_LOG(ZVLogLevel::Error, nullptr, "profile JSON refused: %@", error.message());
    return false;
  }
  if (!save()) {
    // The file kept the old content (a profile that would not read back, a folder that
    // cannot be written): so does the profile, and the page hears that nothing was saved.
    profile_->setJSON(before);
    profile_->updateActiveShiftState();
    return false;
  }
  profile_->updateActiveShiftState();
  return true;
}

// --- Test mode --------------------------------------------------------------------------------

void ZVEditorWindow::setDeviceActionCallback(const std::string& functionName) {
  {
    std::lock_guard lock(callbackMutex_);
    actionJSCallback_ = functionName;
  }
  const bool on = !functionName.empty();
  if (profile_) profile_->setUseDelegateForActions(on);
  auto exclusive = [this](bool use) {
    if (options_.setExclusive) {
      options_.setExclusive(use);
    } else if (auto driver = device_->driver()) {
      driver->setExclusive(use);
    }
  };
  if (on) {
    exclusive(true);
    if (profile_) profile_->updateActiveShiftState();
  } else {
    if (profile_) profile_->stopActiveCommands();
    exclusive(false);
    if (auto current = storeCurrentProfile()) current->updateActiveShiftState();
  }
}

void ZVEditorWindow::onProfileActionWithPage(std::uint32_t page, std::uint32_t usage,
                                             std::uint32_t value, const std::string& string) {
  // From a command thread: the text is built and evaluated on the main loop, and only
  // while test mode is still on then.
  platform::RunLoop::main().post([weak = weak_from_this(), page, usage, value, string] {
    auto window = weak.lock();
    if (!window) return;
    std::string callback;
    {
      std::lock_guard lock(window->callbackMutex_);
      callback = window->actionJSCallback_;
    }
    if (callback.empty()) return;
    window->invokeJavascript(
        log::formatLog("%@('action', %@,%@,%@,'%@')", callback, static_cast<std::int32_t>(page),
                       static_cast<std::int32_t>(usage), static_cast<std::int32_t>(value),
                       scriptStringContent(string)));
  });
}

// --- Application links --------------------------------------------------------------------------

void ZVEditorWindow::openAppLinkDialogForProfile(const std::string& profileName) {
  const auto chosen = platform_.chooseApplications("Select App To Link");
  if (!switcher_) return;
  for (const auto& application : chosen) {
    std::string error;
    if (!switcher_->setProfile(profileName, linkedProgram(application), &error)) {
      ZV_LOG(ZVLogLevel::Error, nullptr, "linking %@ failed: %@", application, error);
    }
  }
}

void ZVEditorWindow::unlinkApp(const std::string& application, const std::string& profileName) {
  if (!switcher_) return;
  std::string error;
  if (!switcher_->unsetProfile(profileName,
                               store::ZVProfileSwitcher::keyForApplication(application), &error)) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "unlinking %@ failed: %@", application, error);
  }
}

std::vector<std::string> ZVEditorWindow::appsLinkedToProfile(const std::string& profileName) const {
  return switcher_ ? switcher_->mappingsForProfile(profileName) : std::vector<std::string>{};
}

ZVEditorWindow::FocusStatus ZVEditorWindow::focusStatus() const {
  FocusStatus status;
  const auto& provider = options_.frontmost;
  if (!provider) {
    status.reason = options_.frontmostUnavailable.empty()
                        ? "this desktop does not tell which application has the focus"
                        : options_.frontmostUnavailable;
    return status;
  }
  status.canLink = true;
  status.provider = std::string(provider->providerName());
  if (!provider->connected()) {
    status.reason = provider->disconnectReason();
  } else {
    status.reason = provider->waitingFor();
  }
  status.linksWork = status.reason.empty();
  return status;
}

std::optional<std::string> ZVEditorWindow::appNameAtPath(const std::string& given) {
  std::string text = given;
  if (text.rfind("file:", 0) == 0) {
    text = percentDecoded(text.substr(5));
    while (text.size() > 1 && text[0] == '/' && text[1] == '/') text.erase(0, 1);
  }
  if (text.empty() || text.front() != '/') return std::nullopt;
  const std::filesystem::path path(text);
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    const support::Bundle bundle(path);
    if (!std::filesystem::is_regular_file(bundle.infoPlistPath(), error)) return std::nullopt;
    const auto executable = bundle.objectForInfoDictionaryKey("CFBundleExecutable");
    if (!executable.isString()) return std::nullopt;
    return executable.asString();
  }
  if (!std::filesystem::is_regular_file(path, error) || ::access(path.c_str(), X_OK) != 0) {
    return std::nullopt;
  }
  if (auto application = applicationForExecutable(path)) return application->entry.name;
  return path.filename().string();
}

// --- Commands and favourites --------------------------------------------------------------------

std::string ZVEditorWindow::commandXML() const {
  auto commands = store::ZVCommandStore::sharedCommandStore();
  return commands ? commands->commandXML() : std::string();
}

std::optional<std::string> ZVEditorWindow::favouriteCommandJSON() const {
  std::error_code error;
  if (!std::filesystem::is_regular_file(favouritesPath_, error)) return std::nullopt;
  base::Result<std::string> text = platform::readFile(favouritesPath_);
  if (!text || !text::isValidUtf8(*text)) return std::nullopt;
  return std::move(*text);
}

void ZVEditorWindow::setFavouriteCommandJSON(const std::string& text) {
  const auto target = followLinks(favouritesPath_);
  std::error_code error;
  const auto status = std::filesystem::status(target, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "favourites not written: %@ is not a regular file",
           target.string());
    return;
  }
  if (const auto written = platform::writeFileAtomically(target, text); !written) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "favourites not written: %@", written.failure().message);
  }
}

// --- Desktop ------------------------------------------------------------------------------------

std::string ZVEditorWindow::browseForImagePath() {
  const auto url = platform_.chooseImage("Select Command Icon", {"png", "jpg", "gif", "app"});
  return url ? imagePathFromFileURL(*url) : std::string();
}

std::string ZVEditorWindow::chooseFileToOpen() {
  return platform_.chooseFile("Select File To Open").value_or(std::string());
}

std::optional<std::string> ZVEditorWindow::deviceLayoutJSON() const {
  const auto name = device_->bundle().objectForInfoDictionaryKey("EditorLayout");
  if (!name.isString()) return std::nullopt;
  if (!insideResources(name.asString())) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "layout %@ refused: not a file of the device bundle",
           name.asString());
    return std::nullopt;
  }
  const auto path = device_->bundle().resourcePath() / name.asString();
  auto text = platform::readFile(path);
  if (!text || !text::isValidUtf8(*text)) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "layout %@ cannot be read", path.string());
    return std::nullopt;
  }
  return std::move(*text);
}

void ZVEditorWindow::systemMouseSettings() {
  platform_.openMouseSettings();
}

void ZVEditorWindow::openURL(const std::string& url) {
  platform_.openURL(url);
}

std::string ZVEditorWindow::languageNameForLocale(const std::string& locale) const {
  return platform_.nativeLanguageName(locale);
}

std::string ZVEditorWindow::currentLocale() const {
  const auto languages = platform_.preferredLanguages();
  return pageLanguageCode(languages.empty() ? std::string("en") : languages.front());
}

// --- Software update ----------------------------------------------------------------------------

void ZVEditorWindow::startUpdateDownload() {
  std::string error;
  if (!softwareUpdate_->download(&error) && !error.empty()) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "no download: %@", error);
  }
}

std::int32_t ZVEditorWindow::downloadPercentage() const {
  return softwareUpdate_->downloadPercentage();
}

void ZVEditorWindow::installUpdate() {
  std::string error;
  if (!softwareUpdate_->install(&error))
    ZV_LOG(ZVLogLevel::Error, nullptr, "no install: %@", error);
}

std::optional<std::string> ZVEditorWindow::updateVersion() const {
  return softwareUpdate_->availableVersion();
}

// --- Delegate calls -----------------------------------------------------------------------------

void ZVEditorWindow::deviceConnected(device::DeviceController&, bool connected) {
  if (!connected) sendSystemEvent("deviceDisconnect");
}

void ZVEditorWindow::profileStoreUpdate(store::ZVProfileStore&) {
  sendEditorEvent("profileList");
}

void ZVEditorWindow::profileStoreDeleted(store::ZVProfileStore&) {}

void ZVEditorWindow::activeProfileHasChanged() {
  sendEditorEvent("activeProfileChanged");
}

void ZVEditorWindow::softwareUpdateNewVersionAvailable(update::ZVSoftwareUpdate&,
                                                       const std::string&) {
  sendSystemEvent("softwareUpdateAvailable");
}

void ZVEditorWindow::softwareUpdateDownloadProgress(update::ZVSoftwareUpdate&, int) {
  sendSystemEvent("softwareUpdateDownloadProgress");
}

void ZVEditorWindow::softwareUpdateDownloadComplete(update::ZVSoftwareUpdate&) {
  sendSystemEvent("softwareUpdateDownloadComplete");
}

}  // namespace zv::editor
