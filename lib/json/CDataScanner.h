// A byte scanner: a position that moves forward as bytes are taken, and the usual
// scanning primitives. Every operation stays inside the data; at the end
// currentCharacter() answers 0. The scanner either owns its data (setData with a
// string) or views data its caller keeps alive for the scanner's lifetime
// (setDataView).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/CharacterSet.h"

namespace zv::json {

class CDataScanner {
 public:
  CDataScanner() = default;
  explicit CDataScanner(std::string data) { setData(std::move(data)); }
  virtual ~CDataScanner() = default;
  CDataScanner(const CDataScanner&) = delete;
  CDataScanner& operator=(const CDataScanner&) = delete;

  void setData(std::string data);
  virtual void setDataView(std::string_view data);
  std::string_view data() const { return data_; }

  std::size_t scanLocation() const { return pos_; }
  // Positions past the end are clamped to the end.
  void setScanLocation(std::size_t location) { pos_ = location < end_ ? location : end_; }
  bool isAtEnd() const { return pos_ >= end_; }
  std::uint8_t currentCharacter() const {
    return pos_ < end_ ? static_cast<std::uint8_t>(data_[pos_]) : 0;
  }

  // Takes one byte (0 at the end, nothing taken).
  std::uint8_t scanCharacter() {
    return pos_ < end_ ? static_cast<std::uint8_t>(data_[pos_++]) : 0;
  }
  // Takes the byte only when it is the given one.
  bool scanCharacter(char expected) {
    if (pos_ < end_ && data_[pos_] == expected) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Takes the exact bytes of `text` when they are next.
  bool scanUTF8String(std::string_view text, std::string* into = nullptr);
  bool scanString(std::string_view text, std::string* into = nullptr) {
    return scanUTF8String(text, into);
  }
  // Takes the longest non-empty run of bytes in `set`.
  bool scanCharactersFromSet(const CharacterSet& set, std::string* into = nullptr);
  // Takes bytes up to (not including) `text` or to the end; fails when nothing was taken.
  bool scanUpToString(std::string_view text, std::string* into = nullptr);
  bool scanUpToCharactersFromSet(const CharacterSet& set, std::string* into = nullptr);
  // Takes a run of "0123456789eE-." and converts its longest leading decimal number.
  bool scanNumber(double* value);
  // Skips bytes that isspace() accepts: blank, \t, \n, \v, \f, \r.
  void skipWhitespace() {
    while (pos_ < end_ && isWhitespace(static_cast<std::uint8_t>(data_[pos_]))) ++pos_;
  }
  std::string_view remainingString() const { return data_.substr(pos_, end_ - pos_); }

  static const CharacterSet& doubleCharacters();
  static bool isWhitespace(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

 protected:
  std::string owned_;      // the data when the scanner owns it
  std::string_view data_;  // what is scanned: owned_ or the caller's bytes
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
};

}  // namespace zv::json
