#include "engine/ZVProfile.h"

#include <mutex>
#include <system_error>

#include "device/DeviceController.h"
#include "engine/CommandThreads.h"
#include "engine/EngineContext.h"
#include "engine/ZVActionCommand.h"
#include "engine/ZVActionCommandTrigger.h"
#include "engine/ZVControl.h"
#include "engine/ZVProfileNotifications.h"
#include "engine/ZVShiftState.h"
#include "log/Log.h"
#include "platform/AtomicFile.h"
#include "platform/VDKQueueNotifications.h"
#include "profile/EditorHandOver.h"
#include "profile/NodeText.h"
#include "profile/ProfileControllersCache.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"

namespace zv::engine {
namespace {

namespace fs = std::filesystem;
using log::ZVLogLevel;

const profile::ClassRegistration<ZVProfile> registration;

struct SharedPrototype {
  std::mutex mutex;
  json::DictionaryPtr prototype;
  bool tried = false;  // the bundled one was looked for (and may be missing)
};

SharedPrototype& sharedPrototypeState() {
  static SharedPrototype state;
  return state;
}

// The profile's class operations answer a flag and, when asked, the reason in words.
bool answer(const base::Result<void>& result, std::string* error) {
  if (!result && error) *error = result.failure().message;
  return result.ok();
}

bool fileExists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace

ZVProfile::ZVProfile() : context_(std::make_shared<EngineContext>()) {}

ZVProfile::~ZVProfile() {
  stopWatching();
  if (!currentShiftState_) return;
  currentShiftState_->cancel();
  if (auto command = currentShiftState_->shiftCommand()) command->stop();
}

std::shared_ptr<ZVProfile> ZVProfile::create() {
  return std::make_shared<ZVProfile>();
}

bool ZVProfile::loadFromJSON(json::DictionaryPtr json, json::DictionaryPtr prototype,
                             const std::shared_ptr<device::DeviceController>& device,
                             std::weak_ptr<ZVProfileNotifications> delegate) {
  loaded_ = false;
  device_ = device;
  context_->setDevice(device);
  context_->setDelegate(std::move(delegate));
  if (!json || !prototype) return false;
  initWithPrototypeDictionary(prototype, nullptr);
  if (!setJSON(std::move(json))) return false;
  loaded_ = prototype->contains("profile");
  return loaded_;
}

json::DictionaryPtr ZVProfile::sharedPrototype() {
  SharedPrototype& state = sharedPrototypeState();
  std::lock_guard lock(state.mutex);
  if (!state.prototype && !state.tried) {
    state.tried = true;
    if (const auto path = profile::bundledPrototypePath()) {
      std::string error;
      state.prototype = profile::readPrototypeFile(*path, &error);
      if (!state.prototype) ZV_LOG(ZVLogLevel::Error, nullptr, "%@", error);
    }
  }
  return state.prototype;
}

void ZVProfile::setSharedPrototype(json::DictionaryPtr prototype) {
  {
    SharedPrototype& state = sharedPrototypeState();
    std::lock_guard lock(state.mutex);
    state.prototype = prototype;
    state.tried = false;
  }
  profile::ProfileControllersCache::shared().setPrototype(std::move(prototype));
}

std::string ZVProfile::description() const {
  std::string text = "profile '" + (JSONDictionary() ? string("profile") : std::string()) + "'";
  if (path_) text += " at " + path_->string();
  return text;
}

// --- Loading ------------------------------------------------------------------------------

void ZVProfile::dropTree() {
  if (currentShiftState_) currentShiftState_->deactivate();
  currentShiftState_.reset();
  currentController_.reset();
  latchableButtons_.clear();
  buttonState_.clear();
  json::DictionaryPtr prototype = prototypeDictionary();
  initWithPrototypeDictionary(prototype ? prototype : json::makeDictionary(), nullptr);
}

bool ZVProfile::failLoad(std::string_view what, std::string_view reason, std::string* error) {
  const auto device = this->device();
  ZV_LOG(ZVLogLevel::Error, this, "Failed to load profile: %@ for device %@", what,
         device ? device->name() : std::string());
  loaded_ = false;
  dropTree();
  if (error) *error = std::string(reason);
  return false;
}

bool ZVProfile::initWithString(std::string_view text,
                               const std::shared_ptr<device::DeviceController>& device,
                               std::weak_ptr<ZVProfileNotifications> delegate, std::string* error) {
  loaded_ = false;
  device_ = device;
  context_->setDevice(device);
  context_->setDelegate(delegate);
  json::DictionaryPtr prototype = sharedPrototype();
  if (!prototype) {
    return failLoad(text, "no profile prototype (tevnodes.prototype) to read profiles with", error);
  }
  profile::NodeTextError failure;
  auto json =
      profile::tevnodes2json(profile::replaceNewlines(text), json::Value(prototype), &failure);
  if (!json) return failLoad(text, "not a readable profile: " + failure.describe(), error);
  if (!json->isDictionary()) {
    return failLoad(text, "not a readable profile: the top-level node reads as a list", error);
  }
  if (!loadFromJSON(json->asDictionary(), prototype, device, std::move(delegate))) {
    ZV_LOG(ZVLogLevel::Error, this, "Profile corrupt: %@ for device %@", text,
           device ? device->name() : std::string());
    if (error) *error = "the profile prototype defines no member \"profile\"";
  }
  return loaded_;
}

bool ZVProfile::initFromFile(const std::optional<fs::path>& path,
                             const std::shared_ptr<device::DeviceController>& device,
                             std::weak_ptr<ZVProfileNotifications> delegate, std::string* error) {
  if (!path) return initForDevice(device, std::move(delegate), error);
  log::systemLogNotice("Loading profile at: %@", *path);
  path_ = *path;
  const auto store = device ? device->profileStore() : nullptr;
  if (store && !fileExists(*path)) {
    // Errors are left to the read below, which reports the file missing.
    std::error_code ignored;
    const fs::path seed = store->seedPathForProfilePath(*path);
    if (!seed.empty()) fs::copy_file(seed, *path, ignored);
  }
  std::string reason;
  if (auto text = profile::readProfileText(*path, &reason)) {
    if (!initWithString(*text, device, delegate, error) && error) {
      *error = path->string() + ": " + *error;
    }
  } else {
    device_ = device;
    context_->setDevice(device);
    context_->setDelegate(delegate);
    failLoad(path->string(), reason, error);
  }
  if (device::DeviceController::isExecutive()) {
    stopWatching();
    fileWatcher_ = platform::VDKQueue::create();
    watch(*path);
  }
  if (checkName()) {
    if (const auto listener = this->delegate()) listener->profileWasRenamed(*this);
  }
  return loaded_;
}

bool ZVProfile::initForDevice(const std::shared_ptr<device::DeviceController>& device,
                              std::weak_ptr<ZVProfileNotifications> delegate, std::string* error) {
  stopWatching();
  fileWatcher_.reset();
  if (!device) {
    device_.reset();
    context_->setDevice({});
    context_->setDelegate(delegate);
    return failLoad("(no seed)", "no device to load the seed profile of", error);
  }
  const json::Value* name =
      device->dictionary() ? device->dictionary()->find("SeedProfile") : nullptr;
  const std::string seedName = name ? name->asString() : std::string();
  const fs::path seed = device->bundle().resourcePath() / seedName;
  ZV_LOG(ZVLogLevel::Notice, this, "Loading %@ profile from %@", device->name(), seed);
  std::string reason;
  auto text = seedName.empty() ? std::nullopt : profile::readProfileText(seed, &reason);
  if (text) {
    if (!initWithString(*text, device, std::move(delegate), error) && error) {
      *error = seed.string() + ": " + *error;
    }
  } else {
    device_ = device;
    context_->setDevice(device);
    context_->setDelegate(delegate);
    failLoad(
        seed.string(),
        seedName.empty() ? device->name() + " names no seed profile (\"SeedProfile\")" : reason,
        error);
  }
  if (!path_ && loaded_) {
    if (const auto store = device->profileStore()) path_ = store->pathForProfile(string("profile"));
  }
  return loaded_;
}

std::shared_ptr<ZVProfile> ZVProfile::defaultProfileForDevice(
    const std::shared_ptr<device::DeviceController>& device) {
  auto profile = create();
  const auto store = device ? device->profileStore() : nullptr;
  profile->initFromFile(store ? std::optional<fs::path>(store->seedPath()) : std::nullopt, device);
  return profile;
}

// --- Files ----------------------------------------------------------------------------------

void ZVProfile::watch(const fs::path& path) {
  if (!fileWatcher_) return;
  fileWatcher_->setDelegate(this);
  fileWatcher_->addPath(path.string());
}

void ZVProfile::stopWatching() {
  if (!fileWatcher_) return;
  fileWatcher_->setDelegate(nullptr);
  fileWatcher_->removeAllPaths();
}

bool ZVProfile::save(std::string* error) {
  if (!path_) {
    if (error) *error = "the profile has no file to save to";
    return false;
  }
  return saveToPath(fs::path(*path_), error);
}

bool ZVProfile::saveToPath(const fs::path& path, std::string* error) {
  if (!JSONDictionary()) {
    if (error) *error = path.string() + " not written: the profile did not load";
    return false;
  }
  if (path_ && *path_ != path) {
    if (fileWatcher_) fileWatcher_->removeAllPaths();
    path_.reset();
  }
  if (!path_) {
    path_ = path;
    // The new file exists (empty) before the text is written, so it can be watched. A
    // file already there is not emptied: the atomic write below replaces it whole, and a
    // save that fails must leave it as it is.
    if (!fileExists(path)) {
      // The write below reports the folder's trouble.
      [[maybe_unused]] const auto created = platform::writeFileAtomically(path, std::string());
    }
    if (!fileWatcher_) fileWatcher_ = platform::VDKQueue::create();
    watch(path);
  }
  checkName();
  std::string reason;
  const bool saved = profile::saveProfileJSON(path, json::Value(JSONDictionary()),
                                              json::Value(prototypeDictionary()), &reason);
  if (!saved && error) *error = path.string() + " not written: " + reason;
  shiftStateIdx_ = -1;
  return saved;
}

bool ZVProfile::checkName() {
  if (!path_ || !JSONDictionary()) return false;
  const std::string name = path_->stem().string();
  if (string("profile") == name) return false;
  return setString("profile", name);
}

bool ZVProfile::isSeed() const {
  const auto device = this->device();
  const auto store = device ? device->profileStore() : nullptr;
  return store && path_ && *path_ == store->seedPath();
}

void ZVProfile::reset() {
  const std::optional<fs::path> kept = path_;
  const auto device = this->device();
  const auto store = device ? device->profileStore() : nullptr;
  std::optional<fs::path> seed;
  if (store && kept) {
    const fs::path path = store->seedPathForProfilePath(*kept);
    if (!path.empty()) seed = path;
  }
  initFromFile(seed, device);
  path_ = kept;
  // The load watched the seed; the profile goes on following its own file.
  if (fileWatcher_ && kept) {
    fileWatcher_->removeAllPaths();
    watch(*kept);
  }
  checkName();
}

void ZVProfile::VDKQueueReceivedNotification(platform::VDKQueue& queue,
                                             std::string_view notification,
                                             const std::string& path) {
  if (!device::DeviceController::isExecutive()) return;
  // The delegate may let go of this profile while it is told.
  const auto keep = weak_from_this().lock();
  if (notification == platform::VDKQueueRenameNotification) {
    path_ = fs::path(path);
    if (checkName()) {
      if (const auto listener = delegate()) listener->profileWasRenamed(*this);
    }
  } else if (notification == platform::VDKQueueDeleteNotification) {
    const auto listener = delegate();
    if (!fileExists(path)) {
      if (listener) listener->profileWasDeleted(*this);
      return;
    }
    // A save replaced the file. The watch stays on the old file, so the new one is
    // watched again whatever the delegate decides.
    if (!listener || listener->profileHasChangedOnDisk(*this)) {
      const bool running = currentShiftState_ != nullptr;
      deactivate();
      std::weak_ptr<ZVProfileNotifications> same = listener;
      if (auto text = profile::readProfileText(path)) {
        initWithString(*text, device(), same);
      } else {
        failLoad(path, "cannot read " + path, nullptr);
      }
      // Only a profile that was running picks a shift state again: activating one of a
      // profile that is merely held would take over the device's driver settings.
      if (running) updateActiveShiftState();
    }
    queue.removePath(path);
    queue.addPath(path);
  }
}

// --- Class operations -------------------------------------------------------------------------

std::optional<std::vector<std::string>> ZVProfile::controllersInFile(const fs::path& path) {
  return profile::ProfileControllersCache::shared().controllersInFile(path);
}

bool ZVProfile::isProfileAtPath(const fs::path& path, const device::DeviceController& device) {
  return profile::ProfileControllersCache::shared().isProfileAtPath(path, device.balias());
}

bool ZVProfile::invokeEditorForProfileUsingAlias(const fs::path& path,
                                                 const device::DeviceController& device,
                                                 std::string* error) {
  const profile::EditorDevice described{device.udid(), device.name(),
                                        static_cast<std::uint32_t>(device.productId()),
                                        static_cast<std::uint32_t>(device.vendorId())};
  return answer(profile::invokeEditorForProfileUsingAlias(path, described), error);
}

bool ZVProfile::invokeEditorForProfileUsingBalias(const fs::path& path,
                                                  const device::DeviceController& device,
                                                  std::string* error) {
  return answer(profile::invokeEditorForProfileUsingBalias(path, device.balias()), error);
}

// --- Routing ----------------------------------------------------------------------------------

void ZVProfile::loadCompleted(const profile::ObjectPtr& root) {
  (void)root;  // the profile is the root
  // The previous tree's state must not keep running: its commands are detached from
  // everything that could stop them once this tree replaces it.
  if (currentShiftState_) currentShiftState_->deactivate();
  currentShiftState_.reset();
  currentController_.reset();
  latchableButtons_.clear();
  buttonState_.clear();

  const std::shared_ptr<device::DeviceController> device = this->device();
  if (device) {
    const json::Value balias(device->balias());
    for (const profile::ObjectPtr& controller : children("controllers")) {
      if (controller->tevNodeValue() == balias) currentController_ = controller;
    }
  }
  if (currentController_) {
    for (const profile::ObjectPtr& node : currentController_->children("controls")) {
      auto control = std::dynamic_pointer_cast<ZVControl>(node);
      if (control && control->latched()) latchableButtons_[control->hidElement()] = true;
    }
  }
  if (device) {
    for (const auto& [element, value] : device->elementMap()) {
      if (!latchableButtons_.count(element)) buttonState_[element] = value;
    }
  }
  // The process that runs this profile gets threads waiting for its commands now, so
  // that a press does not wait for one to be created.
  if (device::DeviceController::isExecutive() && currentController_) {
    std::size_t commands = 0;
    for (const profile::ObjectPtr& node : currentController_->children("shifts")) {
      auto state = std::dynamic_pointer_cast<ZVShiftState>(node);
      if (!state) continue;
      for (const auto& trigger : state->collatedAssignments()) {
        if (trigger->hasCommand()) ++commands;
      }
    }
    if (commands > 0) CommandThreads::shared().keepReady(commands);
  }
}

std::shared_ptr<ZVProfileNotifications> ZVProfile::delegate() const {
  return context_->delegate();
}

void ZVProfile::setDelegate(std::weak_ptr<ZVProfileNotifications> delegate) {
  context_->setDelegate(std::move(delegate));
}

bool ZVProfile::useDelegateForActions() const {
  return context_->useDelegateForActions();
}

void ZVProfile::setUseDelegateForActions(bool use) {
  context_->setUseDelegateForActions(use);
}

std::shared_ptr<Clock> ZVProfile::clock() const {
  return context_->clock();
}

void ZVProfile::setClock(std::shared_ptr<Clock> clock) {
  context_->setClock(std::move(clock));
}

bool ZVProfile::isActive() const {
  const auto device = this->device();
  const auto store = device ? device->profileStore() : nullptr;
  const auto current = store ? store->currentProfile() : nullptr;
  return current && current->path() && path_ && *current->path() == *path_;
}

void ZVProfile::setActive() {
  const auto device = this->device();
  if (const auto store = device ? device->profileStore() : nullptr) {
    store->setCurrentProfile(std::static_pointer_cast<ZVProfile>(shared_from_this()));
  }
  updateActiveShiftState();
}

void ZVProfile::updateActiveShiftState() {
  if (!currentController_) return;
  std::size_t best = 0;
  std::shared_ptr<ZVShiftState> choice;
  for (const profile::ObjectPtr& node : currentController_->children("shifts")) {
    auto state = std::dynamic_pointer_cast<ZVShiftState>(node);
    if (!state || !state->checkSelectionSet(buttonState_)) continue;
    const std::size_t count = state->triggerButtonCount();
    if (count == 0 || count > best) {
      choice = state;
      best = count;
    }
  }
  if (choice == currentShiftState_) return;
  if (currentShiftState_) currentShiftState_->deactivate();
  if (choice) {
    currentShiftState_ = choice;
    choice->activate();
  }
}

void ZVProfile::onElementEvent(std::uint32_t element, std::int32_t value, std::int32_t oldValue) {
  (void)oldValue;
  if (!latchableButtons_.count(element)) {
    auto it = buttonState_.find(element);
    if ((it == buttonState_.end() ? 0 : it->second) == value) return;
    buttonState_[element] = value;
  } else if (value != 0) {
    auto it = buttonState_.find(element);
    buttonState_[element] = (it == buttonState_.end() || it->second == 0) ? 1 : 0;
  }
  updateActiveShiftState();
  if (currentShiftState_) currentShiftState_->onElementEvent(element, value);
}

void ZVProfile::setShiftState(std::int32_t index) {
  if (index == shiftStateIdx_ || !currentController_) return;
  const profile::ObjectArray& shifts = currentController_->children("shifts");
  if (index < 0 || static_cast<std::size_t>(index) >= shifts.size()) return;
  auto state = std::dynamic_pointer_cast<ZVShiftState>(shifts[index]);
  if (!state) return;
  if (currentShiftState_) currentShiftState_->deactivate();
  currentShiftState_ = state;
  state->activate();
}

void ZVProfile::deactivate() {
  if (currentShiftState_) currentShiftState_->deactivate();
  currentShiftState_.reset();
}

void ZVProfile::stopActiveCommands() {
  if (currentShiftState_) currentShiftState_->cancel();
}

}  // namespace zv::engine
