// What the node-text reader and writer share: the names the format gives meaning to, the
// characters of a word, and the nesting limit. Internal to lib/profile.
#pragma once

#include <cstddef>
#include <string_view>

namespace zv::profile::nodetext {

// Deeper nesting than any profile has; the limit keeps garbage from exhausting the stack.
inline constexpr std::size_t kMaxNesting = 256;

inline constexpr std::string_view kOrder = "_obj_order";
inline constexpr std::string_view kGroupKey = "@TEVGRP";
inline constexpr std::string_view kBlastOpen = "[blast=";

constexpr bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace zv::profile::nodetext
