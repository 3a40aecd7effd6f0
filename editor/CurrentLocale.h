// The language code the editor's page expects for the user's preferred language.
#pragma once

#include <string>
#include <string_view>

namespace zv::editor {

// "nn-NO" → "no", "zh-Hans" → "zh-CHS", "zh-Hant" → "zh-CHT" (exact matches only); any
// other language → its first two characters ("en-GB" → "en", "zh-Hant-TW" → "zh").
std::string pageLanguageCode(std::string_view preferredLanguage);

}  // namespace zv::editor
