#include "support/Bundle.h"

#include <cstdlib>
#include <system_error>

#include "support/PropertyList.h"

namespace zv::support {

std::optional<Bundle> Bundle::main() {
  if (const char* forced = std::getenv("KINETRA_APP_BUNDLE"); forced && *forced) {
    return Bundle(forced);
  }
  std::error_code ec;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  const auto linuxFolder = executable.parent_path();
  const auto contents = linuxFolder.parent_path();
  if (linuxFolder.filename() != "Linux" || contents.filename() != "Contents") return std::nullopt;
  return Bundle(contents.parent_path());
}

json::DictionaryPtr Bundle::infoDictionary() const {
  auto value = readPropertyListFile(infoPlistPath());
  if (value && value->isDictionary()) return value->asDictionary();
  return json::makeDictionary();
}

json::Value Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  const auto info = infoDictionary();
  const json::Value* value = info->find(key);
  return value ? *value : json::Value();
}

std::optional<std::filesystem::path> Bundle::pathForResource(const std::string& name) const {
  const auto candidate = resourcePath() / name;
  std::error_code ec;
  if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  return std::nullopt;
}

}  // namespace zv::support
