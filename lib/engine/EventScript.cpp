#include "engine/EventScript.h"

#include <charconv>
#include <limits>
#include <type_traits>

#include <cstdio>
#include "text/Characters.h"
#include "text/Escape.h"
#include "text/Numbers.h"
#include "text/Unicode.h"

namespace zv::engine {

namespace {

std::vector<std::string_view> tokens(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && text::isBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !text::isBlank(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

// Text as it can be shown on a terminal: at most `limit` characters, bytes outside
// printable ASCII as \xNN.
std::string shown(std::string_view line, std::size_t limit = 60) {
  std::string out;
  for (char c : line.substr(0, limit)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  if (line.size() > limit) out += "...";
  return out;
}

// A note keeps its UTF-8 text, with control characters escaped, at most 200 bytes.
std::string noteText(std::string_view note) {
  if (note.size() > 200) {
    std::size_t end = 200;  // not inside a character
    while (end > 0 && (static_cast<unsigned char>(note[end]) & 0xC0) == 0x80) --end;
    note = note.substr(0, end);
  }
  if (!text::isValidUtf8(note)) return shown(note, 200);
  std::string out;
  text::appendEscapingControls(out, note);
  return out;
}

}  // namespace

std::string EventScriptError::describe() const {
  return "line " + std::to_string(line) + ": " + message;
}

std::optional<std::vector<EventScriptStep>> parseEventScript(std::string_view text,
                                                             EventScriptError* error) {
  std::vector<EventScriptStep> steps;
  std::chrono::milliseconds total{0};
  std::size_t number = 0;
  auto fail = [&](std::string message) {
    if (error) *error = {number, std::move(message)};
    return std::nullopt;
  };
  while (!text.empty()) {
    ++number;
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    const std::string_view whole = line;
    const std::vector<std::string_view> all = tokens(line);
    if (!all.empty() && all.front().substr(0, 2) == "##") {
      const std::size_t begin = line.find("##") + 2;
      std::string_view note = line.substr(begin);
      while (!note.empty() && text::isBlank(note.front())) note.remove_prefix(1);
      while (!note.empty() && text::isBlank(note.back())) note.remove_suffix(1);
      if (note.empty()) continue;
      EventScriptStep step;
      step.line = number;
      step.note = noteText(note);
      steps.push_back(std::move(step));
      continue;
    }
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    const std::vector<std::string_view> words = tokens(line);
    if (words.empty()) continue;
    const std::string expected =
        "expected '+MS ELEMENT VALUE' (for example '+120 0x90009 0'), got '" + shown(whole) + "'";
    if (words.size() != 1 && words.size() != 3) return fail(expected);
    EventScriptStep step;
    step.line = number;
    std::uint64_t ms = 0;
    const std::string_view delay = words[0].substr(1);
    if (words[0][0] != '+' || delay.empty() ||
        delay.find_first_not_of("0123456789") != std::string_view::npos ||
        !text::parseWholeNumber(delay, ms)) {
      return fail(expected);
    }
    if (ms > static_cast<std::uint64_t>(kEventScriptMaxDelay.count())) {
      return fail("a delay of " + shown(delay) + " ms is longer than an hour");
    }
    step.delay = std::chrono::milliseconds(ms);
    total += step.delay;
    if (total > kEventScriptMaxLength) return fail("the script runs longer than a day");
    if (words.size() == 3) {
      if (!text::parseWholeNumber(words[1], step.element)) {
        return fail("'" + shown(words[1]) + "' is not an element identifier (for example 0x90009)");
      }
      if (!text::parseWholeNumber(words[2], step.value)) {
        return fail("'" + shown(words[2]) + "' is not a value (a 32-bit whole number)");
      }
      step.hasEvent = true;
    }
    steps.push_back(step);
  }
  return steps;
}

}  // namespace zv::engine
