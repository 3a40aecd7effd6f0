// A bundle folder: "<Name>.app/" or "<Name>.bundle/" holding Contents/Info.plist,
// Contents/Resources/ and Contents/PlugIns/. Applications are installed as bundles,
// with their executable in Contents/Linux/; the running application's bundle is found
// from the executable's own path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

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

 private:
  std::filesystem::path path_;
};

}  // namespace zv::support
