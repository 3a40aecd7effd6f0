#include "CurrentLocale.h"

namespace zv::editor {

std::string pageLanguageCode(std::string_view preferredLanguage) {
  if (preferredLanguage == "nn-NO") return "no";
  if (preferredLanguage == "zh-Hans") return "zh-CHS";
  if (preferredLanguage == "zh-Hant") return "zh-CHT";
  return std::string(preferredLanguage.substr(0, 2));
}

}  // namespace zv::editor
