// Version texts as the update endpoint and the device bundles write them: dotted numbers
// such as "1.2" or "2.0.13".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv::update {

// Positive when `b` is the newer version, negative when `a` is, 0 when they are equal.
//
// A missing version is older than any present one. Both are split at "."; each component
// counts as its leading integer (optional white space and sign, then digits; 0 when there
// are none; clamped to the 32-bit range), so "1.2beta" equals "1.2" and "x" equals "0".
// At the first component that differs the answer is b's value minus a's; when every
// shared component is equal the one with more components is newer (1 or -1), so "1.2.0"
// is newer than "1.2". The difference is clamped to the 32-bit range, so its sign is
// always right.
std::int32_t CompareVersionStrings(std::optional<std::string_view> a,
                                   std::optional<std::string_view> b);

// For callers holding an optional owned text.
inline std::optional<std::string_view> versionView(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

}  // namespace zv::update
