// The error convention of the library: an operation that can fail answers a Result, which
// holds either its value or a Failure saying what went wrong.
//
//   base::Result<json::DictionaryPtr> read = readEditorHandOver(path);
//   if (!read) return read.failure().prefixed("cannot start the editor: ");
//   use(*read);
//
// A Failure carries a domain that names the code space, a code within it, and a message
// for the user. The message is complete on its own: it says what failed, on what (the
// path), and why, so that a caller can print it or log it as it is, or put its own words
// in front (prefixed). Code that must react to one kind of failure tests domain and code,
// never the message.
//
// Both types are plain values: copy them, move them, keep them; nothing here is shared
// between threads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace zv::base {

// The domain of failures of a system call: the code is its errno.
inline constexpr const char* kSystemDomain = "System";

struct Failure {
  std::string domain;   // kSystemDomain, or a domain a module declares with its codes
  int code = 0;         // an errno in kSystemDomain; a code the domain lists otherwise
  std::string message;  // for the user, complete: "/run/x.pr1: cannot create: File exists"

  // A failure of a system call: `context` followed by ": " and strerror(number).
  static Failure system(int number, std::string_view context);
  // The same failure, with `context` in front of its message.
  Failure prefixed(std::string_view context) const;
  bool is(std::string_view otherDomain, int otherCode) const {
    return domain == otherDomain && code == otherCode;
  }
};

// A value of type T, or the Failure that stands in its place.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // The value; only when ok().
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  // The value, or `fallback` on failure.
  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

  // The failure; only when !ok().
  const Failure& failure() const { return std::get<1>(state_); }

 private:
  std::variant<T, Failure> state_;
};

// Success with nothing to answer, or a Failure.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : failure_(std::move(failure)) {}

  bool ok() const { return !failure_; }
  explicit operator bool() const { return ok(); }
  // The failure; only when !ok().
  const Failure& failure() const { return *failure_; }

 private:
  std::optional<Failure> failure_;
};

}  // namespace zv::base
