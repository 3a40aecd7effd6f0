#include "text/Unicode.h"

#include <cstdint>

namespace zv::text {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

std::uint32_t unitAt(std::string_view bytes, std::size_t i, std::size_t width, bool bigEndian) {
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < width; ++k) {
    const auto b = static_cast<std::uint8_t>(bytes[i + (bigEndian ? k : width - 1 - k)]);
    v = (v << 8) | b;
  }
  return v;
}

// Decodes one UTF-8 sequence at `i`; answers the code point (kReplacement when
// malformed) and advances `i` past what it consumed (at least one byte).
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  std::size_t length;
  char32_t cp;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4;
    cp = b0 & 0x07;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + length > s.size()) {
    ++i;
    return kReplacement;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<std::uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += length;
  return cp;
}
}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp <= 0x10FFFF) {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    appendUtf8(out, kReplacement);
  }
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  const std::size_t n = bytes.size() / 2 * 2;
  for (std::size_t i = 0; i < n; i += 2) {
    const std::uint32_t u = unitAt(bytes, i, 2, bigEndian);
    if (u < 0x80) {  // most text is ASCII: no call for it
      out.push_back(static_cast<char>(u));
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
      const std::uint32_t low = unitAt(bytes, i + 2, 2, bigEndian);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
  }
  return out;
}

std::string utf32ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 4);
  const std::size_t n = bytes.size() / 4 * 4;
  for (std::size_t i = 0; i < n; i += 4) {
    const std::uint32_t u = unitAt(bytes, i, 4, bigEndian);
    appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF ? kReplacement : u);
  }
  return out;
}

std::string utf8ToUtf16LE(std::string_view utf8) {
  // Text that is all ASCII (profiles nearly always are) is widened in one pass.
  unsigned char any = 0;
  for (char c : utf8) any |= static_cast<unsigned char>(c);
  if (any < 0x80) {
    std::string wide(utf8.size() * 2, '\0');
    for (std::size_t i = 0; i < utf8.size(); ++i) wide[2 * i] = utf8[i];
    return wide;
  }
  std::string out;
  out.reserve(utf8.size() * 2);
  auto put = [&out](std::uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  for (std::size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      put(static_cast<unsigned char>(utf8[i++]));
      continue;
    }
    const char32_t cp = decodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t start = i;
    if (decodeUtf8(bytes, i) == kReplacement) {
      // U+FFFD itself is valid; a replacement from one consumed byte is not.
      if (i - start != 3) return false;
    }
  }
  return true;
}

}  // namespace zv::text
