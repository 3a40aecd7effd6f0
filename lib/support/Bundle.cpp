#include "support/Bundle.h"

#include <cstdlib>
#include <system_error>

#include "support/PropertyList.h"
#include "support/StringsFile.h"

namespace zv::support {
namespace {

const char* environment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

void addLanguage(std::vector<std::string>& languages, std::string_view locale) {
  // "pt_BR.UTF-8@euro": the language and territory, without codeset and modifier.
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX" || !isPlainName(locale)) return;
  std::vector<std::string> forms{std::string(locale)};
  const std::size_t separator = locale.find_first_of("_-");
  if (separator != std::string_view::npos) {
    std::string other(locale);
    other[separator] = other[separator] == '_' ? '-' : '_';
    forms.push_back(other);
    forms.emplace_back(locale.substr(0, separator));
  }
  for (std::string& form : forms) {
    if (form.empty()) continue;
    bool known = false;
    for (const std::string& language : languages) known = known || language == form;
    if (!known) languages.push_back(std::move(form));
  }
}

}  // namespace

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

std::vector<std::string> Bundle::preferredLanguages() {
  std::vector<std::string> languages;
  const char* locale = environment("LC_ALL");
  if (!locale) locale = environment("LC_MESSAGES");
  if (!locale) locale = environment("LANG");
  const std::string_view localeName = locale ? locale : "C";
  const std::string_view base = localeName.substr(0, localeName.find_first_of(".@"));
  if (base != "C" && base != "POSIX") {
    if (const char* list = environment("LANGUAGE")) {
      std::string_view rest = list;
      while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        addLanguage(languages, rest.substr(0, colon));
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
      }
    }
  }
  addLanguage(languages, localeName);
  addLanguage(languages, "en");
  addLanguage(languages, "Base");
  return languages;
}

std::string Bundle::localizedString(std::string_view key, std::string_view value,
                                    std::string_view table) const {
  if (table.empty()) table = "Localizable";
  if (isPlainName(table)) {
    const std::string fileName = std::string(table) + ".strings";
    for (const std::string& language : preferredLanguages()) {
      const auto file = resourcePath() / (language + ".lproj") / fileName;
      std::error_code ec;
      if (!std::filesystem::is_regular_file(file, ec)) continue;
      const std::optional<StringsTable> strings = readStringsFile(file);
      if (!strings) continue;
      if (const auto found = strings->find(key); found != strings->end()) return found->second;
    }
  }
  return std::string(value.empty() ? key : value);
}

}  // namespace zv::support
