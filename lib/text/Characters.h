// Character classes shared by the readers of the suite's text formats.
#pragma once

namespace zv::text {

// Space, tab, line feed, carriage return, vertical tab and form feed: what C's isspace()
// answers in the "C" locale, without depending on the process's locale.
constexpr bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace zv::text
