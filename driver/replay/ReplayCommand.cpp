#include "replay/ReplayCommand.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <sstream>

namespace zv::driver::replay {
namespace {

// An optionally negative number within [min, max].
bool parseSigned(const std::string& token, std::int64_t min, std::int64_t max, std::int64_t* out) {
  const bool negative = !token.empty() && token[0] == '-';
  std::uint64_t magnitude;
  if (!parseReplayNumber(negative ? token.substr(1) : token, UINT64_MAX, &magnitude)) {
    return false;
  }
  if (negative && magnitude != 0) {
    if (magnitude - 1 > static_cast<std::uint64_t>(-(min + 1))) return false;
    *out = -static_cast<std::int64_t>(magnitude - 1) - 1;
  } else {
    if (magnitude > static_cast<std::uint64_t>(max)) return false;
    *out = static_cast<std::int64_t>(magnitude);
  }
  return true;
}

}  // namespace

bool parseReplayNumber(const std::string& token, std::uint64_t max, std::uint64_t* out) {
  std::size_t i = 0;
  int base = 10;
  if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= token.size()) return false;
  std::uint64_t value = 0;
  for (; i < token.size(); ++i) {
    const char c = token[i];
    std::uint64_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint64_t>(c - '0');
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      digit = static_cast<std::uint64_t>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    } else {
      return false;
    }
    if (value > (UINT64_MAX - digit) / static_cast<std::uint64_t>(base)) return false;
    value = value * static_cast<std::uint64_t>(base) + digit;
  }
  if (value > max) return false;
  *out = value;
  return true;
}

bool parseReplayHexBytes(const std::vector<std::string>& tokens, std::size_t first,
                         std::vector<std::uint8_t>* bytes, std::string* error) {
  std::string digits;
  for (std::size_t t = first; t < tokens.size(); ++t) {
    for (char c : tokens[t]) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        *error = "'" + tokens[t] + "' is not hexadecimal bytes";
        return false;
      }
    }
    if (tokens[t].size() % 2 != 0) {
      *error = "'" + tokens[t] + "' has an odd number of hex digits";
      return false;
    }
    digits += tokens[t];
  }
  bytes->clear();
  bytes->reserve(digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

bool parseReplayLine(const std::string& rawLine, std::optional<ReplayCommand>* command,
                     std::string* error) {
  command->reset();
  const std::string line = rawLine.substr(0, rawLine.find('#'));
  std::vector<std::string> tokens;
  {
    std::istringstream words(line);
    for (std::string word; words >> word;) tokens.push_back(word);
  }
  if (tokens.empty()) return true;
  const std::string& word = tokens[0];

  auto arguments = [&](std::size_t count, const char* usage) {
    if (tokens.size() == count + 1) return true;
    *error = "'" + word + "' takes " + std::to_string(count) + " argument" +
             (count == 1 ? "" : "s") + ": " + usage;
    return false;
  };
  auto number = [&](std::size_t index, const char* what, std::uint64_t max, std::uint64_t* out) {
    if (parseReplayNumber(tokens[index], max, out)) return true;
    *error = "'" + tokens[index] + "' is not a valid " + what;
    return false;
  };
  auto element = [&](std::size_t index, const char* what, std::uint32_t* out) {
    std::uint64_t value;
    if (!number(index, what, 0xFFFFFFFF, &value)) return false;
    *out = static_cast<std::uint32_t>(value);
    return true;
  };

  ReplayCommand c;
  using Kind = ReplayCommand::Kind;
  if (word == "product") {
    c.kind = Kind::product;
    if (!arguments(1, "product 0xPPPP") ||
        !number(1, "product ID (0 to 0xFFFF)", 0xFFFF, &c.number)) {
      return false;
    }
  } else if (word == "descriptor") {
    c.kind = Kind::descriptor;
    if (tokens.size() < 2) {
      *error = "'descriptor' needs hex bytes: descriptor 05 01 09 02 ...";
      return false;
    }
    if (!parseReplayHexBytes(tokens, 1, &c.bytes, error)) return false;
  } else if (word == "descriptor-file") {
    c.kind = Kind::descriptorFile;
    if (tokens.size() < 2) {
      *error = "'descriptor-file' needs a path: descriptor-file mouse.hid";
      return false;
    }
    // The path is the rest of the line, so it may hold blanks.
    const std::size_t start = line.find_first_not_of(" \t", line.find(word) + word.size());
    const std::size_t end = line.find_last_not_of(" \t\r");
    c.text = line.substr(start, end + 1 - start);
  } else if (word == "report") {
    c.kind = Kind::report;
    if (tokens.size() < 2) {
      *error = "'report' needs hex bytes: report 00 01 00 ...";
      return false;
    }
    if (!parseReplayHexBytes(tokens, 1, &c.bytes, error)) return false;
  } else if (word == "wait") {
    c.kind = Kind::wait;
    if (!arguments(1, "wait MILLISECONDS") ||
        !number(1, "number of milliseconds (at most 3600000)", 3600000, &c.number)) {
      return false;
    }
  } else if (word == "model") {
    c.kind = Kind::model;
    if (!arguments(0, "model")) return false;
  } else if (word == "override") {
    c.kind = Kind::override_;
    if (!arguments(2, "override ELEMENT 0|1") ||
        !element(1, "element (e.g. 0x90009)", &c.element) ||
        !number(2, "flag (0 or 1)", 1, &c.number)) {
      return false;
    }
  } else if (word == "buttons") {
    c.kind = Kind::buttons;
    if (!arguments(1, "buttons MASK") || !number(1, "button mask", UINT64_MAX, &c.number)) {
      return false;
    }
  } else if (word == "precision") {
    c.kind = Kind::precision;
    if (!arguments(2, "precision ELEMENT PERCENT") ||
        !element(1, "element (e.g. 0x90006, or 0 to keep the current one)", &c.element)) {
      return false;
    }
    std::int64_t percent;
    if (!parseSigned(tokens[2], INT32_MIN, INT32_MAX, &percent)) {
      *error = "'" + tokens[2] + "' is not a valid percentage";
      return false;
    }
    c.percent = static_cast<std::int32_t>(percent);
  } else if (word == "axis") {
    c.kind = Kind::axis;
    if (!arguments(2, "axis ELEMENT 1|2 (0 removes it)") ||
        !element(1, "element (e.g. 0x10039)", &c.element) ||
        !number(2, "axis (1 = X, 2 = Y, 0 = none)", 0xFFFFFFFF, &c.number)) {
      return false;
    }
  } else if (word == "hat") {
    c.kind = Kind::hat;
    if (!arguments(1, "hat ELEMENT") || !element(1, "element (e.g. 0x10039)", &c.element)) {
      return false;
    }
  } else {
    *error = "unknown command '" + word + "'";
    return false;
  }
  *command = std::move(c);
  return true;
}

}  // namespace zv::driver::replay
