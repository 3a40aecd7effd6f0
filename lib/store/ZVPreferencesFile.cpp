#include "store/ZVPreferencesFile.h"

#include <cerrno>
#include <system_error>

#include "log/Log.h"
#include "platform/Paths.h"
#include "store/DamagedCopy.h"
#include "support/Bundle.h"
#include "support/NotificationCenter.h"
#include "support/PropertyList.h"

namespace zv::store {

namespace {

// Recursive: creating the instance posts "ZVPreferencesUpdated", and an observer may ask
// for the instance again.
std::recursive_mutex& classLock() {
  static std::recursive_mutex lock;
  return lock;
}

struct ProcessState {
  std::shared_ptr<ZVPreferencesFile> instance;
  std::unordered_map<std::string, std::shared_ptr<ZVPreferencesFile>> byBrand;
};

ProcessState& state() {
  static ProcessState* const shared = new ProcessState;  // lives as long as the process
  return *shared;
}

// The brand becomes part of a file name: it must not leave the preferences folder.
bool isUsableBrand(const std::string& brand) {
  return !brand.empty() && brand != "." && brand != ".." &&
         brand.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

}  // namespace

std::filesystem::path ZVPreferencesFile::pathForBrand(const std::string& brand) {
  if (!isUsableBrand(brand)) return {};
  return platform::preferencesFolder() / ("com.zenvor.Kinetra." + brand + ".plist");
}

std::shared_ptr<ZVPreferencesFile> ZVPreferencesFile::makeProcessInstance() {
  std::lock_guard lock(classLock());
  if (state().instance) return nullptr;
  state().instance.reset(new ZVPreferencesFile);
  return state().instance;
}

std::shared_ptr<ZVPreferencesFile> ZVPreferencesFile::create() {
  std::lock_guard lock(classLock());
  auto file = makeProcessInstance();
  if (!file) return nullptr;
  if (const auto bundle = support::Bundle::main()) {
    const json::Value brand = bundle->objectForInfoDictionaryKey("Brand");
    if (brand.isString()) file->setBrand(brand.asString());
  }
  return file;
}

std::shared_ptr<ZVPreferencesFile> ZVPreferencesFile::createForBrand(const std::string& brand) {
  if (!isUsableBrand(brand)) return nullptr;
  std::lock_guard lock(classLock());
  auto file = makeProcessInstance();
  if (file) file->setBrand(brand);
  return file;
}

std::shared_ptr<ZVPreferencesFile> ZVPreferencesFile::preferenceFileForBrand(
    const std::string& brand) {
  std::lock_guard lock(classLock());
  auto& table = state().byBrand;
  if (const auto it = table.find(brand); it != table.end()) return it->second;
  auto file = createForBrand(brand);
  // The process's object may have been made for this brand without the table.
  const auto& instance = state().instance;
  if (!file && instance && !instance->brand_.empty() && instance->brand_ == brand) file = instance;
  if (file) table.emplace(brand, file);
  return file;
}

std::shared_ptr<ZVPreferencesFile> ZVPreferencesFile::sharedZVPreferencesFile() {
  std::lock_guard lock(classLock());
  if (!state().instance) create();
  return state().instance;
}

void ZVPreferencesFile::forgetProcessInstanceForTesting() {
  std::lock_guard lock(classLock());
  state().instance.reset();
  state().byBrand.clear();
}

ZVPreferencesFile::~ZVPreferencesFile() {
  if (prefsWatcher_) prefsWatcher_->setDelegate(nullptr);
}

bool ZVPreferencesFile::setBrand(const std::string& brand) {
  if (!isUsableBrand(brand)) return false;
  brand_ = brand;
  filePath_ = pathForBrand(brand);

  std::error_code ec;
  if (!std::filesystem::exists(filePath_, ec)) {
    std::filesystem::create_directories(filePath_.parent_path(), ec);
    prefs_ = json::makeDictionary();
    original_.clear();
    readError_.clear();
    // The folder's trouble, if any, shows in the write's error.
    std::string why;
    if (!support::writePropertyListFile(filePath_, json::Value(prefs_), &why)) {
      ZV_LOG(log::ZVLogLevel::Critical, nullptr,
             "cannot create the preferences file: %@; the preferences are kept in memory until "
             "a save succeeds",
             why);
    }
  } else {
    reload();
  }

  if (prefsWatcher_) prefsWatcher_->setDelegate(nullptr);
  prefsWatcher_ = platform::VDKQueue::create();
  if (prefsWatcher_) {
    prefsWatcher_->addPath(filePath_);
    prefsWatcher_->setDelegate(this);
  }
  sendNotification();
  return true;
}

void ZVPreferencesFile::reload() {
  std::string error;
  std::string bytes;
  auto value = support::readPropertyListFile(filePath_, &error, &bytes);
  if (value && value->isDictionary()) {
    prefs_ = value->asDictionary();
    original_ = std::move(bytes);
    readError_.clear();
  } else {
    // Left on disk as it is: only the user's next save replaces it.
    prefs_ = nullptr;
    original_.clear();
    readError_ =
        value ? "cannot read " + filePath_.string() + ": the property list is not a dictionary"
              : error;
  }
}

bool ZVPreferencesFile::save(std::string* error) {
  if (filePath_.empty()) {
    if (error) *error = "the preferences are not bound to a brand";
    return false;
  }
  if (!prefs_) {
    if (error) *error = filePath_.string() + ": nothing to save (" + readError_ + ")";
    return false;
  }
  // Entries the suite did not change keep their exact kind and value (dates, 64-bit
  // integers): the file is the user's, and other programs may keep their own keys in it.
  return support::writePropertyListFile(filePath_, json::Value(prefs_), error, 0644, original_);
}

base::Result<std::filesystem::path> ZVPreferencesFile::reset() {
  if (prefs_ || filePath_.empty()) {
    return base::Failure{base::kSystemDomain, EINVAL,
                         filePath_.string() + " is not damaged; nothing to reset"};
  }
  auto copy = keepDamagedCopy(filePath_);
  if (!copy) return copy;
  auto fresh = json::makeDictionary();
  std::string error;
  if (!support::writePropertyListFile(filePath_, json::Value(fresh), &error)) {
    return base::Failure{base::kSystemDomain, EIO, error};
  }
  prefs_ = std::move(fresh);
  original_.clear();
  readError_.clear();
  sendNotification();
  return copy;
}

void ZVPreferencesFile::sendNotification() {
  support::NotificationCenter::defaultCenter().post(ZVPreferencesUpdatedNotification, this,
                                                    prefs_ ? json::Value(prefs_) : json::Value());
}

void ZVPreferencesFile::VDKQueueReceivedNotification(platform::VDKQueue& queue,
                                                     std::string_view notification,
                                                     const std::string& path) {
  // A save replaces the file, so another process's save arrives as the deletion of the
  // file being watched; writes in place are not acted on.
  if (notification != platform::VDKQueueDeleteNotification) return;
  std::error_code ec;
  if (!std::filesystem::exists(filePath_, ec)) return;  // really gone: the watch ends here
  // The new file is watched before it is read, so that a save landing while it is read
  // is reported too rather than lost.
  queue.removePath(path);
  queue.addPath(path);
  reload();
  sendNotification();
}

}  // namespace zv::store
