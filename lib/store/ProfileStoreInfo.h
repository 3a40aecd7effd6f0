// The content of a profile store's info file (".profileStore-….info"), an XML property
// list holding one dictionary:
//
//   "profileList"     array of strings   the profile names in list order (for readers)
//   "currentProfile"  string             path of the current profile's file
//   "startupProfile"  string             path of the start-up profile; "" for none
//   "settings"        dictionary         the device's settings, with "NoProfile"
//
// Reading is forgiving: a value of the wrong kind counts as absent. Keys this version
// does not know are kept and written back unchanged.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "json/Value.h"

namespace zv::store {

struct ProfileStoreInfo {
  std::vector<std::string> profileList;
  std::optional<std::string> currentProfile;
  std::optional<std::string> startupProfile;
  json::DictionaryPtr settings;  // null when the file has none
  json::DictionaryPtr others;    // every other key, in file order

  // Null reads as an empty file.
  static ProfileStoreInfo fromDictionary(const json::DictionaryPtr& dictionary);
  // The dictionary to write: the four keys (the optional ones when present), then the others.
  json::DictionaryPtr toDictionary() const;
};

}  // namespace zv::store
