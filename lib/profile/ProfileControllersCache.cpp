#include "profile/ProfileControllersCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/ReadFile.h"
#include "profile/NodeText.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"

namespace zv::profile {
namespace {

constexpr std::string_view kProfileExtension = ".pr0";

// "Mine.pr0"; a file named just ".pr0" has no profile name.
bool isProfilePath(const std::filesystem::path& path) {
  const std::string text = path.filename().native();
  return text.size() > kProfileExtension.size() && text.ends_with(kProfileExtension);
}

// The "controller" values of the root's "controllers", in order.
ProfileControllersCache::Controllers collectControllers(const json::Value& root) {
  ProfileControllersCache::Controllers controllers;
  if (!root.isDictionary()) return controllers;
  const json::Value* list = root.asDictionary()->find("controllers");
  if (!list || !list->isArray()) return controllers;
  for (const json::Value& controller : *list->asArray()) {
    if (!controller.isDictionary()) continue;
    const json::Value* alias = controller.asDictionary()->find("controller");
    if (alias && alias->isString()) controllers.push_back(alias->asString());
  }
  return controllers;
}

}  // namespace

bool ProfileControllersCache::Stamp::operator==(const Stamp& other) const {
  return modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         size == other.size && inode == other.inode && device == other.device;
}

ProfileControllersCache::ProfileControllersCache(json::DictionaryPtr prototype, Pause pause)
    : prototype_(std::move(prototype)), pause_(std::move(pause)) {
  if (!pause_) pause_ = [](std::chrono::milliseconds time) { std::this_thread::sleep_for(time); };
}

ProfileControllersCache& ProfileControllersCache::shared() {
  static ProfileControllersCache cache;
  return cache;
}

void ProfileControllersCache::setPrototype(json::DictionaryPtr prototype) {
  std::lock_guard lock(mutex_);
  prototype_ = std::move(prototype);
  prototypeTried_ = false;
  entries_.clear();
}

void ProfileControllersCache::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::size_t ProfileControllersCache::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

ProfileControllersCache::Look ProfileControllersCache::look(const std::filesystem::path& path,
                                                            Stamp& stamp) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? Look::Missing : Look::Unreadable;
  }
  if (!S_ISREG(info.st_mode)) return Look::Unreadable;
  stamp.modified = info.st_mtim;
  stamp.size = info.st_size;
  stamp.inode = info.st_ino;
  stamp.device = info.st_dev;
  return Look::Regular;
}

bool ProfileControllersCache::changedRecently(const Stamp& stamp) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  // A modification time in the future (a clock set back, a copied file) counts as recent.
  return stamp.modified.tv_sec > now.tv_sec - kQuietTime.count();
}

json::DictionaryPtr ProfileControllersCache::prototype() {
  std::lock_guard lock(mutex_);
  if (!prototype_ && !prototypeTried_) {
    prototypeTried_ = true;
    if (const auto path = bundledPrototypePath()) prototype_ = readPrototypeFile(*path);
  }
  return prototype_;
}

void ProfileControllersCache::forget(const std::filesystem::path& path) {
  std::lock_guard lock(mutex_);
  entries_.erase(path);
}

std::optional<ProfileControllersCache::Controllers> ProfileControllersCache::controllersInFile(
    const std::filesystem::path& path) {
  if (!isProfilePath(path)) return std::nullopt;

  Stamp stamp;
  const Look found = look(path, stamp);
  {
    std::lock_guard lock(mutex_);
    const auto entry = entries_.find(path);
    if (entry != entries_.end()) {
      if (found == Look::Regular && entry->second.stamp == stamp) return entry->second.controllers;
      entries_.erase(entry);
    }
  }
  if (found != Look::Regular) return std::nullopt;

  const json::DictionaryPtr prototypeDictionary = prototype();
  if (!prototypeDictionary) return std::nullopt;

  // The stamp is taken before the read and kept with the answer: a change made while the
  // file is read and converted then shows as a different stamp at the next call.
  base::Result<std::string> bytes = platform::readFile(path, kProfileFileLimit);
  if (!bytes) return std::nullopt;
  if (changedRecently(stamp)) pause_(kSettleTime);
  Stamp after;
  const Look settled = look(path, after);
  if (settled == Look::Missing) return std::nullopt;
  if (settled == Look::Regular && !(after == stamp)) {
    // Still being written when it was read: read what is there now.
    stamp = after;
    bytes = platform::readFile(path, kProfileFileLimit);
    if (!bytes) return std::nullopt;
  }

  std::optional<Controllers> controllers;
  if (const std::optional<std::string> text = decodeProfileText(*bytes)) {
    if (const auto json = tevnodes2json(*text, json::Value(prototypeDictionary))) {
      controllers = collectControllers(*json);
    }
  }
  std::lock_guard lock(mutex_);
  entries_.insert_or_assign(path, Entry{stamp, controllers});
  return controllers;
}

bool ProfileControllersCache::isProfileAtPath(const std::filesystem::path& path,
                                              std::string_view balias) {
  const std::optional<Controllers> controllers = controllersInFile(path);
  return controllers &&
         std::find(controllers->begin(), controllers->end(), balias) != controllers->end();
}

std::optional<ProfileControllersCache::Controllers> controllersInFile(
    const std::filesystem::path& path) {
  return ProfileControllersCache::shared().controllersInFile(path);
}

bool isProfileAtPath(const std::filesystem::path& path, std::string_view balias) {
  return ProfileControllersCache::shared().isProfileAtPath(path, balias);
}

}  // namespace zv::profile
