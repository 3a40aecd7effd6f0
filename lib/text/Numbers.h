// Small number parsers shared by the readers of text the suite takes from users and
// files, and the hexadecimal form the suite prints element identifiers in.
#pragma once

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

namespace zv::text {

// The value of one hexadecimal digit (either case), or -1.
constexpr int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A whole number written in full: decimal, or hexadecimal with "0x"/"0X", with an
// optional leading minus for signed types. False (leaving `out` alone) for anything
// else, trailing characters included, and for values outside `Number`.
template <typename Number>
bool parseWholeNumber(std::string_view text, Number& out) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::uint64_t magnitude = 0;
  const auto [end, status] =
      std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (status != std::errc() || end != text.data() + text.size()) return false;
  if constexpr (std::is_signed_v<Number>) {
    if (negative) {
      if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<Number>::max()) + 1) {
        return false;
      }
      out = static_cast<Number>(-static_cast<std::int64_t>(magnitude));
      return true;
    }
    if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<Number>::max())) return false;
  } else {
    if (negative || magnitude > std::numeric_limits<Number>::max()) return false;
  }
  out = static_cast<Number>(magnitude);
  return true;
}

// "0x9000e": lower-case hexadecimal without leading zeros, as element identifiers are
// printed.
inline std::string hexText(std::uint64_t value) {
  char digits[2 + 16];
  const auto [end, status] = std::to_chars(digits + 2, digits + sizeof digits, value, 16);
  digits[0] = '0';
  digits[1] = 'x';
  (void)status;  // 16 hexadecimal digits always fit
  return std::string(digits, end);
}

}  // namespace zv::text
