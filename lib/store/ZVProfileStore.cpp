#include "store/ZVProfileStore.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device/DeviceController.h"
#include "engine/ZVProfile.h"
#include "log/Log.h"
#include "platform/ConsoleUser.h"
#include "platform/ExclusiveFile.h"
#include "profile/ProfileControllersCache.h"
#include "support/PropertyList.h"

namespace zv::store {

namespace fs = std::filesystem;
using log::ZVLogLevel;

namespace {

constexpr std::string_view kExtension = ".pr0";
constexpr std::string_view kNoProfile = "NoProfile";

std::string descriptionText(const device::DeviceController& device, std::string_view key) {
  const json::Value* value = device.dictionary() ? device.dictionary()->find(key) : nullptr;
  return value && value->isString() ? value->asString() : std::string();
}

// A value of the bundle's description, else of its Info.plist's root.
std::string bundleText(const device::DeviceController& device, std::string_view key) {
  std::string text = descriptionText(device, key);
  if (text.empty()) {
    const json::Value value = device.bundle().objectForInfoDictionaryKey(key);
    if (value.isString()) text = value.asString();
  }
  return text;
}

// A bundle's value that becomes one component of a path: it must stay one component.
std::string asFileName(std::string text) {
  std::replace(text.begin(), text.end(), '/', '_');
  std::replace(text.begin(), text.end(), '\0', '_');
  if (text == "." || text == "..") text = "_";
  return text;
}

bool fileExists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace

// --- Class operations --------------------------------------------------------------------

fs::path ZVProfileStore::applicationSupportFolder() {
  const fs::path folder = platform::consoleUserHomeFolder() / ".local" / "share" / "Kinetra";
  std::error_code ec;
  fs::create_directories(folder, ec);
  return folder;
}

fs::path ZVProfileStore::profilePathForBrand(const std::string& brand) {
  return applicationSupportFolder() / asFileName(brand);
}

fs::path ZVProfileStore::profileFolderForDevice(const device::DeviceController& device) {
  // "ProfilePath" is a folder below the data folder; one that would leave it is not
  // followed, and the device's alias names the folder instead.
  fs::path relative = descriptionText(device, "ProfilePath");
  bool usable = !relative.empty() && relative.is_relative();
  for (const auto& component : relative) usable = usable && component != "..";
  if (!usable) relative = asFileName(device.alias().empty() ? "Device" : device.alias());
  return applicationSupportFolder() / relative;
}

std::string ZVProfileStore::infoFileNameForDevice(const device::DeviceController& device) {
  const std::string name = asFileName(device.name());
  const bool hasType = device.dictionary() && device.dictionary()->contains("TypeID");
  if (hasType) {
    return ".profileStore-" + name + "-" + std::to_string(device.vendorId()) + "-" +
           std::to_string(device.productId()) + "-" + std::to_string(device.typeId()) + ".info";
  }
  return ".profileStore-" + name + "-" + std::to_string(device.productId()) + ".info";
}

bool ZVProfileStore::profileStoreExistsForDevice(const device::DeviceController& device) {
  return fileExists(profileFolderForDevice(device) / infoFileNameForDevice(device));
}

std::shared_ptr<ZVProfileStore> ZVProfileStore::profileStoreForDevice(
    const std::shared_ptr<device::DeviceController>& device) {
  if (!device) return nullptr;
  std::shared_ptr<ZVProfileStore> store(new ZVProfileStore(device));
  store->directoryWatcher_ = platform::VDKQueue::create();
  store->infoWatcher_ = platform::VDKQueue::create();
  if (store->infoWatcher_) {
    store->infoWatcher_->setDelegate(store.get());
    store->infoWatcher_->addPath(store->profileInfoFile_.string());
  }
  if (store->directoryWatcher_) {
    store->directoryWatcher_->setDelegate(store.get());
    store->directoryWatcher_->addPath(store->profilePath_.string());
  }
  return store;
}

std::shared_ptr<ZVProfileStore> ZVProfileStore::openForDevice(
    const std::shared_ptr<device::DeviceController>& device) {
  auto store = profileStoreForDevice(device);
  if (!store) return nullptr;
  device->setProfileStore(store);
  store->readInfo();
  store->readDirectory();
  if (!store->exists()) store->create();
  return store;
}

ZVProfileStore::ZVProfileStore(const std::shared_ptr<device::DeviceController>& device)
    : device_(device) {
  profilePath_ = profileFolderForDevice(*device);
  profileInfoFile_ = profilePath_ / infoFileNameForDevice(*device);
  defaultProfileName_ = bundleText(*device, "DefaultProfileName");
  const std::string defaultFile = bundleText(*device, "DefaultProfile");
  if (!defaultFile.empty()) defaultProfilePath_ = device->bundle().resourcePath() / defaultFile;
  const std::string seedFile = descriptionText(*device, "SeedProfile");
  if (!seedFile.empty()) seedPath_ = device->bundle().resourcePath() / seedFile;
  settings_ = json::makeDictionary();
  otherInfo_ = json::makeDictionary();

  std::error_code ec;
  if (!fs::is_directory(profilePath_, ec)) {
    fs::create_directories(profilePath_, ec);
    writeEmptyInfoFile();
  }
  if (!fileExists(profileInfoFile_)) writeEmptyInfoFile();
}

ZVProfileStore::~ZVProfileStore() {
  if (directoryWatcher_) directoryWatcher_->setDelegate(nullptr);
  if (infoWatcher_) infoWatcher_->setDelegate(nullptr);
}

bool ZVProfileStore::writeEmptyInfoFile() {
  const auto written = writeSharedFile(profileInfoFile_, "");
  if (written) return true;
  ZV_LOG(ZVLogLevel::Error, nullptr, "Cannot create the profile store's info file: %@",
         written.failure().message);
  return false;
}

void ZVProfileStore::watchInfoFile(platform::VDKQueue& queue) {
  // The entry follows the file it was made for; a new file needs a new entry.
  queue.removePath(profileInfoFile_.string());
  queue.addPath(profileInfoFile_.string());
}

// --- Reading and writing ------------------------------------------------------------------

void ZVProfileStore::readInfo() {
  std::lock_guard lock(mutex_);
  const auto device = device_.lock();
  if (!device || !fileExists(profileInfoFile_)) return;
  exists_ = true;
  const SharedDictionary read = readSharedDictionary(profileInfoFile_, pause_);
  if (read.state == SharedDictionary::State::Damaged) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "The profile store's info file reads as empty: %@",
           read.error);
  }
  const ProfileStoreInfo info = ProfileStoreInfo::fromDictionary(read.dictionary);
  settings_ =
      info.settings ? json::Value(info.settings).deepCopy().asDictionary() : json::makeDictionary();
  otherInfo_ = info.others;

  const auto listener = delegate();
  if (info.startupProfile &&
      (!startupProfilePath_ || *startupProfilePath_ != *info.startupProfile)) {
    startupProfilePath_ = fs::path(*info.startupProfile);
    if (listener) listener->startupProfileHasChanged();
  }

  bool changed = !started_;
  if (!started_ && device::DeviceController::isExecutive()) {
    // The executive makes the start-up profile current for every process.
    currentProfilePath_ = startupProfilePath_;
    started_ = true;
    writeInfo();
  } else {
    currentProfilePath_ = info.currentProfile
                              ? std::optional<fs::path>(fs::path(*info.currentProfile))
                              : std::nullopt;
  }
  started_ = true;
  if (currentProfilePath_ && !fileExists(*currentProfilePath_)) followRenamedCurrentProfile();
  if (!currentProfilePath_ || currentProfilePath_->empty() || !fileExists(*currentProfilePath_)) {
    currentProfilePath_ = pathForProfile(defaultProfileName_);
  }
  if (!currentProfile_ || currentProfile_->path() != currentProfilePath_ || noProfile()) {
    dropCurrentProfile();
    changed = true;
  }
  if (changed && !noProfile()) loadCurrentProfile(*currentProfilePath_);
  if (changed && listener) listener->activeProfileHasChanged();
}

void ZVProfileStore::readDirectory() {
  const auto device = device_.lock();
  std::error_code ec;
  if (!device || !fs::is_directory(profilePath_, ec)) return;

  std::vector<std::string> known;
  {
    std::lock_guard lock(mutex_);
    known = profileList_;
  }
  bool changed = false;
  std::vector<std::string> accepted;
  for (auto it = fs::recursive_directory_iterator(
           profilePath_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string file = path.filename().string();
    if (file.size() <= kExtension.size() || !file.ends_with(kExtension)) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::string name = path.lexically_relative(profilePath_).generic_string();
    name.resize(name.size() - kExtension.size());
    if (std::find(known.begin(), known.end(), name) != known.end()) {
      accepted.push_back(std::move(name));
    } else if (profile::isProfileAtPath(path, device->balias())) {
      accepted.push_back(std::move(name));
      changed = true;
    }
  }
  std::sort(accepted.begin(), accepted.end());

  std::lock_guard lock(mutex_);
  if (!changed) {
    for (const auto& name : profileList_) {
      const fs::path path = pathForProfile(name);
      if (path != defaultProfilePath_ && !fileExists(path)) {
        changed = true;
        break;
      }
    }
  }
  if (currentProfilePath_ && !fileExists(*currentProfilePath_)) followRenamedCurrentProfile();
  if (currentProfilePath_ && !fileExists(*currentProfilePath_)) {
    currentProfilePath_.reset();
    currentProfileName_.clear();
  } else if (currentProfilePath_) {
    // An atomic save gives the file a new identity; keep the latest.
    if (auto identity = identityOf(*currentProfilePath_)) currentIdentity_ = identity;
  }
  std::vector<std::string> list;
  if (!defaultProfileName_.empty()) list.push_back(defaultProfileName_);
  for (auto& name : accepted) {
    if (name != defaultProfileName_) list.push_back(std::move(name));
  }
  profileList_ = std::move(list);
  if (changed || !currentProfilePath_) {
    if (const auto listener = delegate()) listener->profileStoreUpdate(*this);
  }
}

bool ZVProfileStore::followRenamedCurrentProfile() {
  if (!currentIdentity_ || !currentProfile_ || currentProfile_->path() != currentProfilePath_) {
    return false;
  }
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(
           profilePath_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string file = path.filename().string();
    if (!file.ends_with(kExtension) || identityOf(path) != currentIdentity_) continue;
    std::string name = path.lexically_relative(profilePath_).generic_string();
    name.resize(name.size() - kExtension.size());
    ZV_LOG(ZVLogLevel::Notice, nullptr, "The current profile was renamed to %@", name);
    currentProfilePath_ = path;
    currentProfileName_ = name;
    currentProfile_->setPath(path);
    if (const auto& watcher = currentProfile_->fileWatcher()) {
      watcher->removeAllPaths();
      watcher->addPath(path.string());
    }
    currentProfile_->checkName();
    // Another program (a file manager) may have renamed it without telling anyone.
    writeInfo();
    return true;
  }
  return false;
}

void ZVProfileStore::create() {
  writeInfo();
}

void ZVProfileStore::writeSettings() {
  writeInfo();
}

bool ZVProfileStore::writeInfo(std::string* error) {
  std::lock_guard lock(mutex_);
  if (!exists_) {
    writeEmptyInfoFile();
    exists_ = true;
    if (infoWatcher_) watchInfoFile(*infoWatcher_);
  }
  ProfileStoreInfo info;
  info.profileList = profileList_;
  if (currentProfilePath_) info.currentProfile = currentProfilePath_->string();
  if (startupProfilePath_) info.startupProfile = startupProfilePath_->string();
  info.settings = settings_;
  info.others = otherInfo_;
  const std::string bytes = support::writePropertyListXML(json::Value(info.toDictionary()));
  const auto written = writeSharedFile(profileInfoFile_, bytes);
  if (written) return true;
  ZV_LOG(ZVLogLevel::Error, nullptr, "Cannot write the profile store's info file: %@",
         written.failure().message);
  if (error) *error = written.failure().message;
  return false;
}

void ZVProfileStore::deleteStore() {
  std::error_code ec;
  fs::remove(profileInfoFile_, ec);
}

// --- Profiles -------------------------------------------------------------------------------

bool ZVProfileStore::isUsableProfileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos &&
         name.size() + kExtension.size() <= 255;
}

fs::path ZVProfileStore::pathForProfile(const std::string& name) const {
  if (!defaultProfilePath_.empty() && name == defaultProfileName_) return defaultProfilePath_;
  return profilePath_ / (name + std::string(kExtension));
}

std::vector<std::string> ZVProfileStore::profileNames() const {
  std::lock_guard lock(mutex_);
  return profileList_;
}

bool ZVProfileStore::profileExistsWithName(const std::string& name) const {
  return !name.empty() && fileExists(pathForProfile(name));
}

std::shared_ptr<engine::ZVProfile> ZVProfileStore::profileWithName(const std::string& name) {
  auto profile = engine::ZVProfile::create();
  profile->initFromFile(pathForProfile(name), device_.lock());
  return profile;
}

fs::path ZVProfileStore::seedPathForProfilePath(const fs::path& profilePath) const {
  if (profilePath == pathForProfile(defaultProfileName_)) return {};
  return seedPath_;
}

std::shared_ptr<engine::ZVProfile> ZVProfileStore::seedProfile() {
  auto profile = engine::ZVProfile::create();
  profile->initForDevice(device_.lock());
  return profile;
}

std::shared_ptr<engine::ZVProfile> ZVProfileStore::createUntitledProfile(std::string* error) {
  const auto device = device_.lock();
  fs::path path;
  for (int n = 1; n <= kUntitledLimit && path.empty(); ++n) {
    const fs::path candidate = pathForProfile("Untitled" + std::to_string(n));
    if (fileExists(candidate)) continue;
    // Claimed before it is written, so another process choosing now takes the next name.
    if (platform::createFileExclusively(candidate, "", 0644)) path = candidate;
  }
  if (path.empty()) {
    if (error) {
      *error = "no free name for a new profile: Untitled1 to Untitled" +
               std::to_string(kUntitledLimit) + " are all taken in " + profilePath_.string();
    }
    return nullptr;
  }
  auto profile = engine::ZVProfile::create();
  std::string reason;
  if (!profile->initForDevice(device, {}, &reason) || !profile->saveToPath(path, &reason)) {
    std::error_code ec;
    fs::remove(path, ec);
    if (error) *error = "cannot make a new profile: " + reason;
    return nullptr;
  }
  return profile;
}

bool ZVProfileStore::deleteProfileWithName(const std::string& name, std::string* error) {
  if (!isUsableProfileName(name)) {
    if (error) *error = "'" + name + "' is not a profile name";
    return false;
  }
  if (name == defaultProfileName_) {
    if (error) *error = "the default profile '" + name + "' comes with the device and stays";
    return false;
  }
  const fs::path path = pathForProfile(name);
  if (::unlink(path.c_str()) != 0) {
    if (error) *error = "cannot delete " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ZVProfileStore::renameProfile(const std::string& oldName, const std::string& newName,
                                   std::string* error) {
  for (const std::string* name : {&oldName, &newName}) {
    if (!isUsableProfileName(*name)) {
      if (error) *error = "'" + *name + "' is not a profile name";
      return false;
    }
  }
  if (oldName == defaultProfileName_ || newName == defaultProfileName_) {
    if (error) *error = "the default profile '" + defaultProfileName_ + "' comes with the device";
    return false;
  }
  const fs::path from = pathForProfile(oldName);
  const fs::path to = pathForProfile(newName);
  // Never onto another profile: that one would be lost.
  int result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (result != 0 && errno == EINVAL) {
    result = ::link(from.c_str(), to.c_str());
    if (result == 0) ::unlink(from.c_str());
  }
  if (result != 0) {
    if (error) {
      *error = errno == EEXIST ? "a profile named '" + newName + "' exists already"
                               : "cannot rename " + from.string() + ": " + std::strerror(errno);
    }
    return false;
  }
  bool wasCurrent;
  bool wasStartup;
  {
    std::lock_guard lock(mutex_);
    wasCurrent = currentProfileName_ == oldName;
    wasStartup = startupProfilePath_ == from;
  }
  if (wasStartup) setStartupProfilePath(to);
  if (wasCurrent) setCurrentProfileByName(newName);
  return true;
}

// --- Current, start-up and no profile ---------------------------------------------------------

std::optional<ZVProfileStore::FileIdentity> ZVProfileStore::identityOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

void ZVProfileStore::loadCurrentProfile(const fs::path& path) {
  auto profile = engine::ZVProfile::create();
  profile->initFromFile(path, device_.lock());
  currentProfile_ = profile;
  currentProfileName_ = profile->string("profile");
  if (currentProfileName_.empty()) currentProfileName_ = path.stem().string();
  currentIdentity_ = identityOf(path);
  profile->setActive();
}

void ZVProfileStore::dropCurrentProfile() {
  if (currentProfile_) currentProfile_->deactivate();
  currentProfile_.reset();
}

std::shared_ptr<engine::ZVProfile> ZVProfileStore::currentProfile() const {
  std::lock_guard lock(mutex_);
  return currentProfile_;
}

std::string ZVProfileStore::currentProfileName() const {
  std::lock_guard lock(mutex_);
  return currentProfileName_;
}

std::optional<fs::path> ZVProfileStore::currentProfilePath() const {
  std::lock_guard lock(mutex_);
  return currentProfilePath_;
}

void ZVProfileStore::setCurrentProfileByName(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (name == currentProfileName_ && currentProfile_ && !noProfile()) return;
  if (name.empty()) return setNoProfile(true);
  setCurrentProfilePath(pathForProfile(name));
}

void ZVProfileStore::setCurrentProfilePath(const fs::path& path) {
  std::lock_guard lock(mutex_);
  currentProfilePath_ = path;
  settings_->set(kNoProfile, json::Value::boolean(false));
  writeInfo();
  dropCurrentProfile();
  loadCurrentProfile(path);
  if (const auto listener = delegate()) listener->activeProfileHasChanged();
}

void ZVProfileStore::setCurrentProfile(std::shared_ptr<engine::ZVProfile> profile) {
  std::lock_guard lock(mutex_);
  currentProfile_ = profile;
  if (!profile) return;
  if (profile->path() == currentProfilePath_) return;
  currentProfilePath_ = profile->path();
  currentProfileName_ = profile->string("profile");
  if (currentProfilePath_) currentIdentity_ = identityOf(*currentProfilePath_);
  writeInfo();
  if (const auto listener = delegate()) listener->activeProfileHasChanged();
}

bool ZVProfileStore::noProfile() const {
  std::lock_guard lock(mutex_);
  const json::Value* value = settings_->find(kNoProfile);
  return value && value->isNumber() && value->asBoolean();
}

void ZVProfileStore::setNoProfile(bool noProfile) {
  std::lock_guard lock(mutex_);
  settings_->set(kNoProfile, json::Value::boolean(noProfile));
  writeInfo();
}

void ZVProfileStore::setStartupProfileByName(const std::string& name) {
  setStartupProfilePath(name.empty() ? fs::path() : pathForProfile(name));
}

void ZVProfileStore::setStartupProfilePath(const fs::path& path) {
  std::lock_guard lock(mutex_);
  startupProfilePath_ = path;
  writeInfo();
}

std::string ZVProfileStore::startupProfileName() const {
  std::lock_guard lock(mutex_);
  return startupProfilePath_ ? startupProfilePath_->stem().string() : std::string();
}

std::optional<fs::path> ZVProfileStore::startupProfilePath() const {
  std::lock_guard lock(mutex_);
  return startupProfilePath_;
}

json::DictionaryPtr ZVProfileStore::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

bool ZVProfileStore::exists() const {
  std::lock_guard lock(mutex_);
  return exists_;
}

void ZVProfileStore::setDelegate(std::weak_ptr<ZVProfileStoreDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

// --- File changes ---------------------------------------------------------------------------

void ZVProfileStore::VDKQueueReceivedNotification(platform::VDKQueue& queue,
                                                  std::string_view notification,
                                                  const std::string& path) {
  // The store may be let go of by a delegate while it reacts.
  const auto keep = weak_from_this().lock();
  bool isDelete = notification == platform::VDKQueueDeleteNotification;
  bool isWrite = notification == platform::VDKQueueWriteNotification;
  if (isDelete && fileExists(profileInfoFile_)) {
    // The info file was replaced: the new one is watched, and read like a write.
    isDelete = false;
    isWrite = true;
    if (path == profileInfoFile_.string()) {
      watchInfoFile(queue);
    } else {
      queue.removePath(path);
      queue.addPath(path);
    }
  }
  if (path == profileInfoFile_.string()) {
    if (isDelete) {
      {
        std::lock_guard lock(mutex_);
        exists_ = false;
      }
      if (const auto listener = delegate()) listener->profileStoreDeleted(*this);
    } else if (isWrite) {
      readInfo();
    }
    return;
  }
  readDirectory();
}

}  // namespace zv::store
