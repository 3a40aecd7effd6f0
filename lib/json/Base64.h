// Standard Base64 (RFC 4648 alphabet, padded) through OpenSSL's base64 BIO filter.
// With newlines the text is broken into lines of 64 characters, each ending in a line
// feed; without, it is one line. The plain forms use newlines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zv::json {

std::string encodeBase64WithNewlines(std::string_view bytes, bool newlines);
inline std::string encodeBase64(std::string_view bytes) {
  return encodeBase64WithNewlines(bytes, true);
}

// Nothing when the text is not Base64 (a character outside the alphabet, or data
// that ends in the middle of a group).
std::optional<std::string> decodeBase64WithNewlines(std::string_view text, bool newlines);
inline std::optional<std::string> decodeBase64(std::string_view text) {
  return decodeBase64WithNewlines(text, true);
}

}  // namespace zv::json
