// A bundle folder: "<Name>.app/" or "<Name>.bundle/" holding Contents/Info.plist,
// Contents/Resources/ and Contents/PlugIns/. Applications are installed as bundles,
// with their executable in Contents/Linux/; the running application's bundle is found
// from the executable's own path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/Value.h"

namespace zv::support {

class Bundle {
 public:
  explicit Bundle(std::filesystem::path path) : path_(std::move(path)) {}

  // The running application's bundle: the folder named by $KINETRA_APP_BUNDLE, else the
  // bundle whose Contents/Linux/ holds this process's executable; nothing when the
  // program does not run from a bundle (tests, a bare build).
  static std::optional<Bundle> main();

  const std::filesystem::path& bundlePath() const { return path_; }
  std::filesystem::path infoPlistPath() const { return path_ / "Contents" / "Info.plist"; }
  std::filesystem::path resourcePath() const { return path_ / "Contents" / "Resources"; }
  std::filesystem::path builtInPlugInsPath() const { return path_ / "Contents" / "PlugIns"; }

  // Read from disk at each call (nothing is cached); an empty dictionary when the file
  // is missing or damaged.
  json::DictionaryPtr infoDictionary() const;
  // One value of the information dictionary; null when absent.
  json::Value objectForInfoDictionaryKey(std::string_view key) const;
  // "<resources>/<name>" when that file exists.
  std::optional<std::filesystem::path> pathForResource(const std::string& name) const;

  // The text for `key` in "<resources>/<language>.lproj/<table>.strings" (StringsFile.h;
  // table "Localizable" when empty), in the first of preferredLanguages() whose table has
  // it. A key found nowhere answers `value`, or the key itself when `value` is empty; so
  // does a table name that is not a plain file name. Tables are read at each call.
  std::string localizedString(std::string_view key, std::string_view value = {},
                              std::string_view table = {}) const;

  // The ".lproj" folder names to try, most wanted first: the entries of LANGUAGE (a
  // colon-separated list) unless the locale is C or POSIX, then the locale of LC_ALL,
  // LC_MESSAGES or LANG (the first set). "pt_BR.UTF-8@euro" gives "pt_BR", "pt-BR" and
  // "pt"; "en" and "Base" end the list; no name twice.
  static std::vector<std::string> preferredLanguages();

 private:
  std::filesystem::path path_;
};

}  // namespace zv::support
