#include "profile/Prototype.h"

#include "json/CJSONDeserializer.h"
#include "platform/ReadFile.h"
#include "support/Bundle.h"

namespace zv::profile {

std::string replaceNewlines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\v' || c == '\f' || c == '\r') {
      out.push_back(' ');
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) == 0x85) {
      out.push_back(' ');  // U+0085 NEXT LINE
      i += 1;
    } else if (c == 0xE2 && i + 2 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      out.push_back(' ');  // U+2028, U+2029
      i += 2;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

json::DictionaryPtr parsePrototype(std::string_view text, json::Error* error) {
  return json::CJSONDeserializer().deserializeAsDictionary(replaceNewlines(text), error);
}

json::DictionaryPtr readPrototypeFile(const std::filesystem::path& path, std::string* error) {
  const base::Result<std::string> bytes = platform::readFile(path, kPrototypeFileLimit);
  if (!bytes) {
    if (error) *error = bytes.failure().message;
    return nullptr;
  }
  json::Error jsonError;
  json::DictionaryPtr prototype = parsePrototype(*bytes, &jsonError);
  if (!prototype && error) {
    *error = path.string() + " is not a prototype (a JSON object)";
    if (jsonError.code != 0) *error += ": " + jsonError.message();
  }
  return prototype;
}

std::optional<std::filesystem::path> bundledPrototypePath() {
  auto bundle = support::Bundle::main();
  if (!bundle) return std::nullopt;
  return bundle->pathForResource(kPrototypeResourceName);
}

}  // namespace zv::profile
