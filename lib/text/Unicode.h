// Conversions between the Unicode encodings the suite's files use. Invalid input
// never fails: an unpaired surrogate or a malformed sequence becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace zv::text {

void appendUtf8(std::string& out, char32_t codePoint);

// Bytes of UTF-16 / UTF-32 text (no byte-order mark expected; a trailing partial
// unit is dropped) to UTF-8.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);
std::string utf32ToUtf8(std::string_view bytes, bool bigEndian);

// UTF-8 to UTF-16 little-endian bytes.
std::string utf8ToUtf16LE(std::string_view utf8);

bool isValidUtf8(std::string_view bytes);

}  // namespace zv::text
