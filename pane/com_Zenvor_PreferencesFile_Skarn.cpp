#include "com_Zenvor_PreferencesFile_Skarn.h"

#include <mutex>
#include <system_error>
#include <unordered_map>

#include "platform/Paths.h"
#include "support/Bundle.h"
#include "support/NotificationCenter.h"
#include "support/PropertyList.h"

namespace zv::pane {

namespace {

using Object = com_Zenvor_PreferencesFile_Skarn;

std::recursive_mutex& classLock() {
  static std::recursive_mutex lock;
  return lock;
}

struct ProcessState {
  std::shared_ptr<Object> instance;
  std::unordered_map<std::string, std::shared_ptr<Object>> byBrand;
};

ProcessState& state() {
  static ProcessState* const shared = new ProcessState;
  return *shared;
}

bool isUsableBrand(const std::string& brand) {
  return !brand.empty() && brand != "." && brand != ".." &&
         brand.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

}  // namespace

std::shared_ptr<Object> Object::makeProcessInstance() {
  std::lock_guard lock(classLock());
  if (state().instance) return nullptr;
  state().instance.reset(new Object);
  return state().instance;
}

std::shared_ptr<Object> Object::create() {
  std::lock_guard lock(classLock());
  auto file = makeProcessInstance();
  if (!file) return nullptr;
  if (const auto bundle = support::Bundle::main()) {
    const json::Value brand = bundle->objectForInfoDictionaryKey("Brand");
    if (brand.isString()) file->setBrand(brand.asString());
  }
  return file;
}

std::shared_ptr<Object> Object::createForBrand(const std::string& brand) {
  if (!isUsableBrand(brand)) return nullptr;
  std::lock_guard lock(classLock());
  auto file = makeProcessInstance();
  if (file) file->setBrand(brand);
  return file;
}

std::shared_ptr<Object> Object::preferenceFileForBrand(const std::string& brand) {
  std::lock_guard lock(classLock());
  auto& table = state().byBrand;
  if (const auto it = table.find(brand); it != table.end()) return it->second;
  auto file = createForBrand(brand);
  const auto& instance = state().instance;
  if (!file && instance && !instance->brand_.empty() && instance->brand_ == brand) file = instance;
  if (file) table.emplace(brand, file);
  return file;
}

std::shared_ptr<Object> Object::sharedZVPreferencesFile() {
  std::lock_guard lock(classLock());
  if (!state().instance) create();
  return state().instance;
}

void Object::forgetProcessInstanceForTesting() {
  std::lock_guard lock(classLock());
  state().instance.reset();
  state().byBrand.clear();
}

Object::~com_Zenvor_PreferencesFile_Skarn() {
  if (prefsWatcher_) prefsWatcher_->setDelegate(nullptr);
}

bool Object::setBrand(const std::string& brand) {
  if (!isUsableBrand(brand)) return false;
  brand_ = brand;
  filePath_ = platform::preferencesFolder() / ("com.zenvor.Kinetra." + brand + ".plist");
  std::error_code ec;
  if (!std::filesystem::exists(filePath_, ec)) {
    std::filesystem::create_directories(filePath_.parent_path(), ec);
    prefs_ = json::makeDictionary();
    readError_.clear();
    support::writePropertyListFile(filePath_, json::Value(prefs_));
  } else {
    reload();
  }
  if (prefsWatcher_) prefsWatcher_->setDelegate(nullptr);
  prefsWatcher_ = com_Zenvor_VDKQueue_Skarn::create();
  if (prefsWatcher_) {
    prefsWatcher_->addPath(filePath_);
    prefsWatcher_->setDelegate(this);
  }
  sendNotification();
  return true;
}

void Object::reload() {
  std::string error;
  auto value = support::readPropertyListFile(filePath_, &error);
  if (value && value->isDictionary()) {
    prefs_ = value->asDictionary();
    readError_.clear();
  } else {
    prefs_ = nullptr;  // the damaged file stays as it is until the user saves
    readError_ = value ? filePath_.string() + ": the property list is not a dictionary" : error;
  }
}

bool Object::save(std::string* error) {
  if (filePath_.empty()) {
    if (error) *error = "the preferences are not bound to a brand";
    return false;
  }
  if (!prefs_) {
    if (error) *error = filePath_.string() + ": nothing to save (" + readError_ + ")";
    return false;
  }
  return support::writePropertyListFile(filePath_, json::Value(prefs_), error);
}

void Object::sendNotification() {
  support::NotificationCenter::defaultCenter().post(ZVPreferencesUpdatedNotification, this,
                                                    prefs_ ? json::Value(prefs_) : json::Value());
}

void Object::com_Zenvor_VDKQueue_SkarnReceivedNotification(com_Zenvor_VDKQueue_Skarn& queue,
                                                           std::string_view notification,
                                                           const std::string& path) {
  // Another process's save replaces the file: the watched file's deletion.
  if (notification != platform::VDKQueueDeleteNotification) return;
  std::error_code ec;
  if (!std::filesystem::exists(filePath_, ec)) return;
  queue.removePath(path);  // watch the new file before reading it
  queue.addPath(path);
  reload();
  sendNotification();
}

}  // namespace zv::pane
