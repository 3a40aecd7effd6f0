#include "store/ZVProfileSwitcher.h"

#include <mutex>

#include "device/DeviceController.h"
#include "log/Log.h"
#include "platform/OpenFrontmostApplication.h"
#include "platform/RunLoop.h"
#include "store/ZVProfileStore.h"
#include "support/PropertyList.h"

namespace zv::store {

namespace fs = std::filesystem;
using log::ZVLogLevel;

namespace {

struct SharedProvider {
  std::once_flag opened;
  std::shared_ptr<platform::FrontmostApplication> provider;
  std::string unavailable;
};

SharedProvider& sharedProvider() {
  static SharedProvider* const shared = new SharedProvider;  // lives as long as the process
  return *shared;
}

}  // namespace

std::shared_ptr<platform::FrontmostApplication> ZVProfileSwitcher::sharedFrontmostApplication() {
  SharedProvider& shared = sharedProvider();
  std::call_once(shared.opened, [&shared] {
    auto choice = platform::openFrontmostApplication(platform::RunLoop::main());
    shared.provider = std::move(choice.provider);
    shared.unavailable = std::move(choice.unavailable);
    // Said once per process, where the user can find it.
    if (!shared.provider) log::writeSystemLogNotice(shared.unavailable);
  });
  return shared.provider;
}

void ZVProfileSwitcher::closeSharedFrontmostApplication() {
  SharedProvider& shared = sharedProvider();
  // Never opens it: a process that did not use it has nothing to close.
  std::call_once(shared.opened, [] {});
  shared.provider.reset();
  shared.unavailable = "the process is ending";
}

std::string ZVProfileSwitcher::frontmostApplicationUnavailable() {
  sharedFrontmostApplication();
  return sharedProvider().unavailable;
}

std::shared_ptr<ZVProfileSwitcher> ZVProfileSwitcher::create(
    const std::shared_ptr<device::DeviceController>& device,
    std::shared_ptr<platform::FrontmostApplication> frontmost) {
  auto store = device ? std::dynamic_pointer_cast<ZVProfileStore>(device->profileStore()) : nullptr;
  if (!store) return nullptr;
  std::shared_ptr<ZVProfileSwitcher> switcher(
      new ZVProfileSwitcher(std::move(store), std::move(frontmost)));
  switcher->readConfig();
  return switcher;
}

ZVProfileSwitcher::ZVProfileSwitcher(std::shared_ptr<ZVProfileStore> store,
                                     std::shared_ptr<platform::FrontmostApplication> frontmost)
    : store_(std::move(store)), frontmost_(std::move(frontmost)) {
  configPath_ = store_->profilePath() / "mappings.xml";
  appMappings_ = json::makeDictionary();
  configWatcher_ = platform::VDKQueue::create();
  if (configWatcher_) {
    configWatcher_->setDelegate(this);
    configWatcher_->addPath(configPath_.string());
  }
  if (store_->currentProfile()) originalProfile_ = store_->currentProfileName();
  if (frontmost_) {
    observer_ = frontmost_->addObserver(
        [this](const platform::FocusedApplication&) { foremostAppActivated(); });
  }
}

ZVProfileSwitcher::~ZVProfileSwitcher() {
  if (frontmost_ && observer_) frontmost_->removeObserver(observer_);
  if (configWatcher_) configWatcher_->setDelegate(nullptr);
}

void ZVProfileSwitcher::watchConfig() {
  if (!configWatcher_) return;
  configWatcher_->removePath(configPath_.string());
  configWatcher_->addPath(configPath_.string());
}

void ZVProfileSwitcher::readConfig() {
  const SharedDictionary read = readSharedDictionary(configPath_, pause_);
  switch (read.state) {
    case SharedDictionary::State::Missing: {
      appMappings_ = json::makeDictionary();
      std::string error;
      if (!support::writePropertyListFile(configPath_, json::Value(appMappings_), &error)) {
        ZV_LOG(ZVLogLevel::Error, nullptr, "Cannot create the application links: %@", error);
      }
      watchConfig();
      break;
    }
    case SharedDictionary::State::Empty:
      appMappings_ = json::makeDictionary();
      break;
    case SharedDictionary::State::Dictionary:
      appMappings_ = read.dictionary;
      break;
    case SharedDictionary::State::Damaged:
      ZV_LOG(ZVLogLevel::Error, nullptr, "The application links cannot be read; keeping %@: %@",
             std::to_string(appMappings_->size()) + " links", read.error);
      break;
  }
  if (const auto listener = delegate_.lock()) listener->profileSwitcherConfigurationUpdated(*this);
}

std::optional<std::string> ZVProfileSwitcher::profileForKey(const std::string& key) const {
  const std::string wanted = keyForApplication(key);
  if (const json::Value* value = appMappings_->find(wanted); value && value->isString()) {
    return value->asString();
  }
  // A file edited by hand may hold keys that are not normalised.
  for (const auto& [stored, value] : *appMappings_) {
    if (value.isString() && platform::normaliseApplicationKey(stored) == wanted) {
      return value.asString();
    }
  }
  return std::nullopt;
}

void ZVProfileSwitcher::check() {
  const std::optional<std::string> current =
      store_->noProfile() ? std::nullopt : std::optional<std::string>(store_->currentProfileName());
  if (current != lastAutoProfile_ && current != originalProfile_) originalProfile_ = current;

  if (!frontmost_ || !frontmost_->current()) return;
  const platform::FocusedApplication& application = *frontmost_->current();
  const std::string key = platform::applicationKey(application.executable);
  if (currentApplicationURL_ == key) return;

  log::systemLogNotice("switched APP!\n");
  currentApplicationURL_ = key;
  const auto linked = key.empty() ? std::nullopt : profileForKey(key);
  if (!linked) {
    if (!originalProfile_ || originalProfile_ != current) {
      lastAutoProfile_.reset();
      if (!originalProfile_) {
        store_->setNoProfile(true);
      } else {
        store_->setCurrentProfileByName(*originalProfile_);
      }
    }
    return;
  }
  if (!store_->profileExistsWithName(*linked)) {
    removeProfile(*linked);
    return;
  }
  if (!lastAutoProfile_) originalProfile_ = current;
  lastAutoProfile_ = *linked;
  store_->setCurrentProfileByName(*linked);
}

std::string ZVProfileSwitcher::keyForApplication(const std::string& application) {
  if (application.starts_with('/')) return platform::applicationKey(application);
  return platform::normaliseApplicationKey(application);
}

bool ZVProfileSwitcher::setProfile(const std::string& profileName, const std::string& application,
                                   std::string* error) {
  appMappings_->set(keyForApplication(application), json::Value(profileName));
  expectingChange_ = true;
  return writeConfig(error);
}

bool ZVProfileSwitcher::unsetProfile(const std::string&, const std::string& key,
                                     std::string* error) {
  if (!appMappings_->erase(key)) {
    // A key as the user typed it, or stored without normalising.
    const std::string wanted = keyForApplication(key);
    for (std::size_t i = 0; i < appMappings_->size(); ++i) {
      const std::string stored = appMappings_->entry(i).first;
      if (platform::normaliseApplicationKey(stored) == wanted) {
        appMappings_->erase(stored);
        break;
      }
    }
  }
  expectingChange_ = true;
  return writeConfig(error);
}

void ZVProfileSwitcher::removeProfile(const std::string& profileName) {
  std::vector<std::string> keys = mappingsForProfile(profileName);
  for (const auto& key : keys) appMappings_->erase(key);
}

void ZVProfileSwitcher::renameProfile(const std::string& oldName, const std::string& newName) {
  for (const auto& key : mappingsForProfile(oldName)) appMappings_->set(key, json::Value(newName));
}

bool ZVProfileSwitcher::writeConfig(std::string* error) {
  const std::string xml = support::writePropertyListXML(json::Value(appMappings_));
  const auto written = writeSharedFile(configPath_, xml);
  if (written) return true;
  ZV_LOG(ZVLogLevel::Error, nullptr, "Cannot write the application links: %@",
         written.failure().message);
  if (error) *error = written.failure().message;
  return false;
}

std::vector<std::string> ZVProfileSwitcher::mappingsForProfile(
    const std::string& profileName) const {
  std::vector<std::string> keys;
  for (const auto& [key, value] : *appMappings_) {
    if (value.isString() && value.asString() == profileName) keys.push_back(key);
  }
  return keys;
}

void ZVProfileSwitcher::VDKQueueReceivedNotification(platform::VDKQueue&,
                                                     std::string_view notification,
                                                     const std::string&) {
  const bool isWrite = notification == platform::VDKQueueWriteNotification;
  const bool isDelete = notification == platform::VDKQueueDeleteNotification;
  if (!isWrite && !isDelete) return;
  // A file replaced by another program: watch the new one, or later changes go unseen.
  std::error_code ec;
  if (isDelete && fs::exists(configPath_, ec)) watchConfig();
  readConfig();
}

}  // namespace zv::store
