#include "store/ProfileStoreInfo.h"

namespace zv::store {

namespace {
constexpr std::string_view kProfileList = "profileList";
constexpr std::string_view kCurrentProfile = "currentProfile";
constexpr std::string_view kStartupProfile = "startupProfile";
constexpr std::string_view kSettings = "settings";

std::optional<std::string> textOf(const json::Dictionary& dictionary, std::string_view key) {
  const json::Value* value = dictionary.find(key);
  if (!value || !value->isString()) return std::nullopt;
  return value->asString();
}
}  // namespace

ProfileStoreInfo ProfileStoreInfo::fromDictionary(const json::DictionaryPtr& dictionary) {
  ProfileStoreInfo info;
  info.others = json::makeDictionary();
  if (!dictionary) return info;
  if (const json::Value* list = dictionary->find(kProfileList); list && list->isArray()) {
    for (const json::Value& name : *list->asArray()) {
      if (name.isString()) info.profileList.push_back(name.asString());
    }
  }
  info.currentProfile = textOf(*dictionary, kCurrentProfile);
  info.startupProfile = textOf(*dictionary, kStartupProfile);
  if (const json::Value* settings = dictionary->find(kSettings);
      settings && settings->isDictionary()) {
    info.settings = settings->asDictionary();
  }
  for (const auto& [key, value] : *dictionary) {
    if (key != kProfileList && key != kCurrentProfile && key != kStartupProfile &&
        key != kSettings) {
      info.others->set(key, value);
    }
  }
  return info;
}

json::DictionaryPtr ProfileStoreInfo::toDictionary() const {
  auto dictionary = json::makeDictionary();
  auto list = json::makeArray();
  for (const auto& name : profileList) list->push_back(json::Value(name));
  dictionary->set(std::string(kProfileList), json::Value(list));
  if (currentProfile) dictionary->set(std::string(kCurrentProfile), json::Value(*currentProfile));
  if (startupProfile) dictionary->set(std::string(kStartupProfile), json::Value(*startupProfile));
  if (settings) dictionary->set(std::string(kSettings), json::Value(settings));
  if (others) {
    for (const auto& [key, value] : *others) {
      if (!dictionary->contains(key)) dictionary->set(key, value);
    }
  }
  return dictionary;
}

}  // namespace zv::store
