// The text a focus FIFO carries (FifoFrontmostApplication.h): one line per focus change.
//
//   /usr/bin/firefox        the application of this executable has the focus
//   -                       no window has the focus (an empty line says the same)
//   # a comment             ignored
//
// A path is the whole line, blanks inside it included (leading and trailing blanks and a
// carriage return are dropped); it must be absolute. Lines that are not (a relative
// name, a NUL byte, more than kMaxFocusLine bytes) are skipped and counted, so a writer
// that sends garbage loses those lines and nothing else.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FrontmostApplication.h"

namespace zv::platform {

inline constexpr std::size_t kMaxFocusLine = 4096;

class FocusLines {
 public:
  void append(std::string_view bytes);
  // The next focus change of the complete lines received; nothing when more bytes are
  // needed. The application's executable is the path as written (pid 0, name its file
  // name); nothing focused reads as FocusedApplication{}.
  std::optional<FocusedApplication> next();
  // Lines skipped because they were not a focus change.
  std::size_t rejected() const { return rejected_; }

 private:
  std::string buffer_;
  std::size_t offset_ = 0;
  // Inside a line longer than kMaxFocusLine: everything up to its newline is dropped.
  bool discarding_ = false;
  std::size_t rejected_ = 0;
};

}  // namespace zv::platform
