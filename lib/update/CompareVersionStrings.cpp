#include "update/CompareVersionStrings.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace zv::update {

namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

std::vector<std::string_view> components(std::string_view text) {
  std::vector<std::string_view> parts;
  for (;;) {
    const auto dot = text.find('.');
    parts.push_back(text.substr(0, dot));
    if (dot == std::string_view::npos) return parts;
    text.remove_prefix(dot + 1);
  }
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The component's leading integer, saturated at the 32-bit limits.
std::int64_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), kMax + 1);
  }
  return std::clamp<std::int64_t>(negative ? -value : value, kMin, kMax);
}

}  // namespace

std::int32_t CompareVersionStrings(std::optional<std::string_view> a,
                                   std::optional<std::string_view> b) {
  if (!a && b) return 1;
  if (a && !b) return -1;
  if (!a && !b) return 0;
  const auto left = components(*a);
  const auto right = components(*b);
  const std::size_t shared = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < shared; ++i) {
    const std::int64_t difference = leadingInteger(right[i]) - leadingInteger(left[i]);
    if (difference != 0) return static_cast<std::int32_t>(std::clamp(difference, kMin, kMax));
  }
  if (left.size() == right.size()) return 0;
  return right.size() > left.size() ? 1 : -1;
}

}  // namespace zv::update
