#include "log/LogFormat.h"

#include <algorithm>
#include <cstdio>

#include "json/CJSONSerializer.h"

namespace zv::log {
namespace {

constexpr int kLargestField = 1024;

struct Conversion {
  std::string flags;
  int width = -1;
  int precision = -1;
  char type = 0;
};

bool isFlag(char c) {
  return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'';
}

bool isLengthModifier(char c) {
  return c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Digits at `at`, capped; advances `at`.
int readNumber(std::string_view format, std::size_t& at) {
  long value = 0;
  while (at < format.size() && isDigit(format[at])) {
    value = std::min<long>(value * 10 + (format[at] - '0'), kLargestField);
    ++at;
  }
  return static_cast<int>(value);
}

// The flags printf defines for a conversion; the others are dropped rather than passed on
// to printf, where they would be undefined.
std::string_view allowedFlags(char type) {
  switch (type) {
    case 'd':
    case 'i':
      return "-+ 0'";
    case 'u':
      return "-0'";
    case 'x':
    case 'X':
    case 'o':
      return "-#0";
    case 'p':
      return "-";
    default:
      return "-+ #0'";
  }
}

// The printf specification for one conversion with the given length modifier.
std::string specification(const Conversion& conversion, const char* length, char type) {
  std::string spec = "%";
  for (const char flag : conversion.flags) {
    if (allowedFlags(type).find(flag) != std::string_view::npos) spec.push_back(flag);
  }
  if (conversion.width >= 0) spec += std::to_string(conversion.width);
  if (conversion.precision >= 0 && type != 'p') {
    spec += "." + std::to_string(conversion.precision);
  }
  spec += length;
  spec.push_back(type);
  return spec;
}

template <typename T>
std::string printNumber(const std::string& spec, T value) {
  char buffer[2 * kLargestField + 64];
  const int written = std::snprintf(buffer, sizeof buffer, spec.c_str(), value);
  if (written < 0) return {};
  return std::string(buffer,
                     std::min<std::size_t>(static_cast<std::size_t>(written), sizeof buffer - 1));
}

// Bytes of `text` up to `limit`, not cutting a UTF-8 sequence in two.
std::string_view utf8Prefix(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::size_t characterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

// %s and %@: precision cuts the text, width pads it (counted in characters).
std::string padText(const Conversion& conversion, std::string_view text) {
  if (conversion.precision >= 0) {
    text = utf8Prefix(text, static_cast<std::size_t>(conversion.precision));
  }
  std::string out(text);
  const std::size_t count = characterCount(text);
  if (conversion.width > 0 && count < static_cast<std::size_t>(conversion.width)) {
    const std::string padding(static_cast<std::size_t>(conversion.width) - count, ' ');
    if (conversion.flags.find('-') != std::string::npos) {
      out += padding;
    } else {
      out.insert(0, padding);
    }
  }
  return out;
}

}  // namespace

LogArgument::LogArgument(const char* text) {
  if (text) {
    kind_ = Kind::Text;
    text_ = text;
  }
}

LogArgument::LogArgument(const json::Value& value) {
  if (value.isNull()) return;
  kind_ = Kind::Text;
  if (value.isString()) {
    text_ = value.asString();
    return;
  }
  text_ = json::CJSONSerializer::serializer().serializeObject(value).valueOr("(unprintable JSON)");
}

std::string LogArgument::text() const {
  switch (kind_) {
    case Kind::Null:
      return "(null)";
    case Kind::Signed:
      return std::to_string(signed_);
    case Kind::Unsigned:
      return std::to_string(unsigned_);
    case Kind::Real:
      return printNumber("%g", real_);
    case Kind::Character:
      return std::string(1, static_cast<char>(signed_));
    case Kind::Text:
      return text_;
    case Kind::Pointer:
      return printNumber("%p", reinterpret_cast<void*>(pointer_));
  }
  return {};
}

std::string formatLogText(std::string_view format, std::span<const LogArgument> arguments) {
  std::string out;
  out.reserve(format.size() + 16 * arguments.size());
  std::size_t next = 0;
  std::size_t at = 0;
  while (at < format.size()) {
    const std::size_t percent = format.find('%', at);
    if (percent == std::string_view::npos) {
      out.append(format.substr(at));
      break;
    }
    out.append(format.substr(at, percent - at));
    std::size_t cursor = percent + 1;
    if (cursor < format.size() && format[cursor] == '%') {
      out.push_back('%');
      at = cursor + 1;
      continue;
    }
    Conversion conversion;
    while (cursor < format.size() && isFlag(format[cursor])) {
      conversion.flags.push_back(format[cursor++]);
    }
    bool unsupported = false;
    if (cursor < format.size() && format[cursor] == '*') {
      unsupported = true;
    } else if (cursor < format.size() && isDigit(format[cursor])) {
      conversion.width = readNumber(format, cursor);
    }
    if (!unsupported && cursor < format.size() && format[cursor] == '.') {
      ++cursor;
      if (cursor < format.size() && format[cursor] == '*') {
        unsupported = true;
      } else {
        conversion.precision = readNumber(format, cursor);
      }
    }
    while (!unsupported && cursor < format.size() && isLengthModifier(format[cursor])) ++cursor;
    static constexpr std::string_view kTypes = "@sdiuxXocfFeEgGaAp";
    if (unsupported || cursor >= format.size() || kTypes.find(format[cursor]) == kTypes.npos) {
      // Not a conversion this formatter knows: keep the percent sign as text.
      out.push_back('%');
      at = percent + 1;
      continue;
    }
    conversion.type = format[cursor];
    at = cursor + 1;

    if (next >= arguments.size()) {
      out += "(missing)";
      continue;
    }
    const LogArgument& argument = arguments[next++];
    using Kind = LogArgument::Kind;
    const Kind kind = argument.kind_;
    const bool numeric = kind == Kind::Signed || kind == Kind::Unsigned || kind == Kind::Real ||
                         kind == Kind::Character || kind == Kind::Pointer;
    auto asSigned = [&]() -> long long {
      switch (kind) {
        case Kind::Unsigned:
          return static_cast<long long>(argument.unsigned_);
        case Kind::Real:
          return static_cast<long long>(std::clamp(argument.real_, -9.2e18, 9.2e18));
        case Kind::Pointer:
          return static_cast<long long>(argument.pointer_);
        default:
          return argument.signed_;
      }
    };
    auto asUnsigned = [&]() -> unsigned long long {
      switch (kind) {
        case Kind::Unsigned:
          return argument.unsigned_;
        case Kind::Pointer:
          return argument.pointer_;
        default:
          return static_cast<unsigned long long>(asSigned());
      }
    };
    auto asReal = [&]() -> double {
      switch (kind) {
        case Kind::Real:
          return argument.real_;
        case Kind::Unsigned:
          return static_cast<double>(argument.unsigned_);
        default:
          return static_cast<double>(asSigned());
      }
    };

    switch (conversion.type) {
      case '@':
      case 's':
        out += padText(conversion, argument.text());
        break;
      case 'd':
      case 'i':
        out += numeric ? printNumber(specification(conversion, "ll", 'd'), asSigned())
                       : padText(conversion, argument.text());
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        out += numeric ? printNumber(specification(conversion, "ll", conversion.type), asUnsigned())
                       : padText(conversion, argument.text());
        break;
      case 'c':
        out += numeric ? padText(conversion, std::string(1, static_cast<char>(asSigned())))
                       : padText(conversion, argument.text());
        break;
      case 'p':
        out += kind == Kind::Pointer || kind == Kind::Unsigned || kind == Kind::Signed
                   ? printNumber(specification(conversion, "", 'p'),
                                 reinterpret_cast<void*>(static_cast<std::uintptr_t>(asUnsigned())))
                   : padText(conversion, argument.text());
        break;
      default:  // floating point
        out += numeric ? printNumber(specification(conversion, "", conversion.type), asReal())
                       : padText(conversion, argument.text());
        break;
    }
  }
  return out;
}

}  // namespace zv::log
