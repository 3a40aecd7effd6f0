#include "profile/ProfileFile.h"

#include "platform/AtomicFile.h"
#include "platform/ReadFile.h"
#include "text/Unicode.h"

namespace zv::profile {

std::string encodeProfileText(std::string_view utf8) {
  return "\xFF\xFE" + text::utf8ToUtf16LE(utf8);
}

std::optional<std::string> decodeProfileText(std::string_view bytes, std::string* error) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    return text::utf16ToUtf8(bytes.substr(2), false);
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    return text::utf16ToUtf8(bytes.substr(2), true);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  } else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) {
    return text::utf16ToUtf8(bytes, false);
  } else if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0) {
    return text::utf16ToUtf8(bytes, true);
  }
  if (!text::isValidUtf8(bytes)) {
    if (error) *error = "neither UTF-16 nor UTF-8 text";
    return std::nullopt;
  }
  return std::string(bytes);
}

std::optional<std::string> readProfileText(const std::filesystem::path& path, std::string* error) {
  std::string bytes;
  if (!platform::readFile(path, bytes, error, kProfileFileLimit)) return std::nullopt;
  std::string reason;
  auto text = decodeProfileText(bytes, &reason);
  if (!text && error) *error = path.string() + ": " + reason;
  return text;
}

bool writeProfileText(const std::filesystem::path& path, std::string_view utf8,
                      std::string* error) {
  return platform::writeFileAtomically(path, encodeProfileText(utf8), error);
}

std::optional<json::Value> loadProfileJSON(const std::filesystem::path& path,
                                           const json::Value& prototype, std::string* error) {
  auto text = readProfileText(path, error);
  if (!text) return std::nullopt;
  NodeTextError failure;
  auto json = tevnodes2json(*text, prototype, &failure);
  if (!json && error) *error = path.string() + ": " + failure.describe();
  return json;
}

bool saveProfileJSON(const std::filesystem::path& path, const json::Value& json,
                     const json::Value& prototype, std::string* error) {
  NodeTextError failure;
  auto text = json2tevnodes(json, prototype, &failure);
  if (!text) {
    if (error) *error = "cannot convert the profile to node text: " + failure.describe();
    return false;
  }
  // A value the format cannot hold (a bracket, a quote, a backslash) is written
  // unchanged and the file would no longer load: refuse instead of replacing a good file.
  if (!tevnodes2json(*text, prototype, &failure)) {
    if (error) {
      *error = "the profile holds text that node text cannot store (" + failure.describe() + ")";
    }
    return false;
  }
  return writeProfileText(path, *text, error);
}

}  // namespace zv::profile
