// Type-safe printf-style formatting for log lines and system-log notices.
//
// Every argument is turned into a LogArgument first (a number, a text, a pointer or
// nothing), so a mismatch between the format and the arguments can never read the wrong
// type or past the end of the arguments, as printf would:
//
//   %@        the argument as text (strings as they are, numbers in decimal, a JSON value
//             as compact JSON, an object with description() as that description, a null
//             pointer or an empty optional as "(null)")
//   %s        the same as %@
//   %d %i     signed decimal;  %u %x %X %o  unsigned;  %c  one character
//   %f %F %e %E %g %G %a %A   floating point;  %p  a pointer
//   %%        a percent sign
//
// Flags (-+ #0'), width and precision work as in printf (width and precision are capped at
// 1024); length modifiers (hh h l ll q j z t L) are accepted and ignored, since the argument
// carries its own size. A "*" width or precision, and an unknown conversion, are copied
// into the text unchanged and take no argument. A numeric conversion given a text writes
// the text; a conversion without an argument writes "(missing)"; arguments left over are
// ignored.
#pragma once

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "json/Value.h"

namespace zv::log {

class LogArgument;

// A type that can describe itself for a log line.
template <typename T>
concept LogDescribable = requires(const T& value) {
  { value.description() } -> std::convertible_to<std::string>;
};

class LogArgument {
 public:
  enum class Kind { Null, Signed, Unsigned, Real, Character, Text, Pointer };

  LogArgument(std::nullptr_t) {}
  template <std::integral T>
  LogArgument(T value) {
    if constexpr (std::is_same_v<T, bool>) {
      kind_ = Kind::Text;
      text_ = value ? "true" : "false";
    } else if constexpr (std::is_same_v<T, char>) {
      kind_ = Kind::Character;
      signed_ = static_cast<unsigned char>(value);
    } else if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::Signed;
      signed_ = value;
    } else {
      kind_ = Kind::Unsigned;
      unsigned_ = value;
    }
  }
  template <typename T>
  requires std::is_enum_v<T> LogArgument(T value)
      : LogArgument(static_cast<std::underlying_type_t<T>>(value)) {}
  template <std::floating_point T>
  LogArgument(T value) : kind_(Kind::Real), real_(static_cast<double>(value)) {}
  LogArgument(const char* text);
  LogArgument(std::string_view text) : kind_(Kind::Text), text_(text) {}
  LogArgument(const std::string& text) : kind_(Kind::Text), text_(text) {}
  LogArgument(const std::filesystem::path& path) : kind_(Kind::Text), text_(path.string()) {}
  LogArgument(const json::Value& value);
  template <LogDescribable T>
  LogArgument(const T& object) : kind_(Kind::Text), text_(object.description()) {}
  // A pointer to an object that describes itself is described; any other pointer is
  // written as an address ("(null)" for a null pointer with %@).
  template <typename T>
  LogArgument(T* pointer) {
    if constexpr (std::is_same_v<std::remove_cv_t<T>, char>) {
      *this = LogArgument(static_cast<const char*>(pointer));
    } else if constexpr (LogDescribable<T>) {
      if (pointer) *this = LogArgument(*pointer);
    } else {
      if (pointer) {
        kind_ = Kind::Pointer;
        pointer_ = reinterpret_cast<std::uintptr_t>(pointer);
      }
    }
  }
  template <typename T>
  LogArgument(const std::optional<T>& value) {
    if (value) *this = LogArgument(*value);
  }

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }
  // The argument as %@ writes it.
  std::string text() const;

 private:
  friend std::string formatLogText(std::string_view, std::span<const LogArgument>);

  Kind kind_ = Kind::Null;
  long long signed_ = 0;
  unsigned long long unsigned_ = 0;
  double real_ = 0;
  std::uintptr_t pointer_ = 0;
  std::string text_;
};

// The format with its arguments, as described above.
std::string formatLogText(std::string_view format, std::span<const LogArgument> arguments);

template <typename... Arguments>
std::string formatLog(std::string_view format, const Arguments&... arguments) {
  const LogArgument converted[sizeof...(Arguments) + 1] = {LogArgument(arguments)..., nullptr};
  return formatLogText(format, std::span<const LogArgument>(converted, sizeof...(Arguments)));
}

}  // namespace zv::log
