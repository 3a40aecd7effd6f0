// Scripts of element events: what `kinetra simulate` feeds a profile instead of a mouse.
// One step per line:
//
//   # button 9 pressed, released 120 ms later
//   +0 0x90009 1
//   +120 0x90009 0
//   +2000              (time passes, nothing happens)
//   ## Media layer     (a note: a heading in what is printed)
//
// "+MS" is the time since the previous step in milliseconds (decimal), followed by the
// element identifier (usage page << 16 | usage) and its value, each decimal or
// hexadecimal with "0x"; a value may be negative. "#" starts a comment; a line that
// starts with "##" is a note, kept as a step of its own; blank lines are skipped; lines
// may end in CR LF.
//
// The parser is a pure function, safe on any thread, and answers a clear error (with the
// line number) for anything else; it never crashes on garbage.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::engine {

struct EventScriptStep {
  std::chrono::milliseconds delay{0};  // after the previous step (or the start)
  bool hasEvent = false;               // false: a pause, or a note
  std::string note;                    // the text after "##" (trimmed); empty otherwise
  std::uint32_t element = 0;
  std::int32_t value = 0;
  std::size_t line = 0;  // 1-based
};

struct EventScriptError {
  std::size_t line = 0;
  std::string message;
  // "line N: MESSAGE".
  std::string describe() const;
};

// The largest script read: a line is about 20 bytes, so 32 MiB holds well over a million
// steps, far more than a session worth simulating, while a wrong file is refused at once.
inline constexpr std::size_t kEventScriptFileLimit = std::size_t{32} << 20;

// A step's delay is at most an hour, and the whole script at most a day.
inline constexpr std::chrono::milliseconds kEventScriptMaxDelay = std::chrono::hours(1);
inline constexpr std::chrono::milliseconds kEventScriptMaxLength = std::chrono::hours(24);

std::optional<std::vector<EventScriptStep>> parseEventScript(std::string_view text,
                                                             EventScriptError* error = nullptr);

}  // namespace zv::engine
