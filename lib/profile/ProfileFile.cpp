#include "profile/ProfileFile.h"

#include "platform/AtomicFile.h"
#include "text/Unicode.h"

namespace zv::profile {

namespace {

// Profiles are nearly all ASCII: widen and narrow that directly, and leave anything
// else to the general conversions.
bool isAscii(std::string_view bytes) {
  unsigned char any = 0;
  for (char c : bytes) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

std::optional<std::string> narrowAscii(std::string_view bytes, bool bigEndian) {
  std::string out(bytes.size() / 2, '\0');
  unsigned char high = 0, low = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    const unsigned char unit = bigEndian ? second : first;
    high |= bigEndian ? first : second;
    low |= unit;
    out[i] = static_cast<char>(unit);
  }
  if (high != 0 || low >= 0x80) return std::nullopt;
  return out;
}

std::string utf16(std::string_view bytes, bool bigEndian) {
  if (auto ascii = narrowAscii(bytes, bigEndian)) return std::move(*ascii);
  return text::utf16ToUtf8(bytes, bigEndian);
}

}  // namespace

std::string encodeProfileText(std::string_view utf8) {
  if (!isAscii(utf8)) return "\xFF\xFE" + text::utf8ToUtf16LE(utf8);
  std::string out(2 + utf8.size() * 2, '\0');
  out[0] = '\xFF';
  out[1] = '\xFE';
  for (std::size_t i = 0; i < utf8.size(); ++i) out[2 + 2 * i] = utf8[i];
  return out;
}

std::optional<std::string> decodeProfileText(std::string_view bytes, std::string* error) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    return utf16(bytes.substr(2), false);
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    return utf16(bytes.substr(2), true);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  } else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) {
    return utf16(bytes, false);
  } else if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0) {
    return utf16(bytes, true);
  }
  if (!text::isValidUtf8(bytes)) {
    if (error) *error = "neither UTF-16 nor UTF-8 text";
    return std::nullopt;
  }
  return std::string(bytes);
}

std::optional<std::string> readProfileText(const std::filesystem::path& path, std::string* error) {
  std::string bytes;
  if (!platform::readFile(path, bytes, error)) return std::nullopt;
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
