#include "profile/ProfileFile.h"

#include "platform/AtomicFile.h"
#include "platform/ReadFile.h"
#include "text/Unicode.h"

namespace zv::profile {

std::string encodeProfileText(std::string_view utf8) {
  return "\xFF\xFE" + text::utf8ToUtf16LE(utf8);
}

namespace {

// UTF-16 text must be whole units: a last odd byte means the file was cut short.
std::optional<std::string> utf16Text(std::string_view bytes, bool bigEndian, std::string* error) {
  if (bytes.size() % 2 != 0) {
    if (error) *error = "UTF-16 text of an odd number of bytes (the file is cut short)";
    return std::nullopt;
  }
  return text::utf16ToUtf8(bytes, bigEndian);
}

}  // namespace

std::optional<std::string> decodeProfileText(std::string_view bytes, std::string* error) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    return utf16Text(bytes.substr(2), false, error);
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    return utf16Text(bytes.substr(2), true, error);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  } else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) {
    return utf16Text(bytes, false, error);
  } else if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0) {
    return utf16Text(bytes, true, error);
  }
  if (!text::isValidUtf8(bytes)) {
    if (error) *error = "neither UTF-16 nor UTF-8 text";
    return std::nullopt;
  }
  return std::string(bytes);
}

std::optional<std::string> readProfileText(const std::filesystem::path& path, std::string* error) {
  const base::Result<std::string> bytes = platform::readFile(path, kProfileFileLimit);
  if (!bytes) {
    if (error) *error = bytes.failure().message;
    return std::nullopt;
  }
  std::string reason;
  auto text = decodeProfileText(*bytes, &reason);
  if (!text && error) *error = "cannot read " + path.string() + ": " + reason;
  return text;
}

bool writeProfileText(const std::filesystem::path& path, std::string_view utf8,
                      std::string* error) {
  const auto written = platform::writeFileAtomically(path, encodeProfileText(utf8));
  if (!written && error) *error = written.failure().message;
  return written.ok();
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

bool isProfileJSON(const json::Value& json, std::string* why) {
  if (json.isDictionary() && json.asDictionary()->contains("profile")) return true;
  if (why) {
    *why = json.isDictionary()
               ? "a dictionary without a \"profile\" member"
               : std::string(json.isArray() ? "an " : "a ") + std::string(json.typeName());
    *why = "not a profile: the JSON is " + *why +
           ", where a profile is a dictionary with a \"profile\" member";
  }
  return false;
}

bool saveProfileJSON(const std::filesystem::path& path, const json::Value& json,
                     const json::Value& prototype, std::string* error) {
  // Node text of anything else reads back as something that no longer loads as a
  // profile: a good file would be replaced by " [ ] ".
  if (!isProfileJSON(json, error)) return false;
  NodeTextError failure;
  auto text = json2tevnodes(json, prototype, &failure);
  if (!text) {
    if (error) *error = "cannot convert the profile to node text: " + failure.describe();
    return false;
  }
  // A value the format cannot hold (a bracket, a quote, a backslash) is written
  // unchanged and the file would no longer load: refuse instead of replacing a good file.
  const std::optional<json::Value> back = tevnodes2json(*text, prototype, &failure);
  if (!back) {
    if (error) {
      *error = "the profile holds text that node text cannot store (" + failure.describe() + ")";
    }
    return false;
  }
  if (!isProfileJSON(*back)) {
    if (error) *error = "the profile's node text would not read back as a profile";
    return false;
  }
  return writeProfileText(path, *text, error);
}

}  // namespace zv::profile
