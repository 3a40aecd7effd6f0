#include "json/CJSONScanner.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "text/Numbers.h"
#include "text/Unicode.h"

namespace zv::json {

namespace {

const char* descriptionFor(int code) {
  switch (code) {
    case -1:
      return "Could not scan dictionary. Dictionary that does not start with '{' character.";
    case -2:
      return "Could not scan dictionary. Failed to scan a key.";
    case -3:
      return "Could not scan dictionary. Key was not terminated with a ':' character.";
    case -4:
      return "Could not scan dictionary. Failed to scan a value.";
    case -5:
      return "Could not scan dictionary. Key value pairs not delimited with a ',' character.";
    case -6:
      return "Could not scan dictionary. Dictionary not terminated by a '}' character.";
    case -7:
      return "Could not scan array. Array not started by a '{' character.";
    case -8:
      return "Could not scan array. Could not scan a value.";
    case -9:
      return "Could not scan array. Array not terminated by a ']' character.";
    case -10:
      return "Could not scan array. Array not terminated by a ']' character.";
    case -11:
      return "Could not scan string constant. String not started by a '\"' character.";
    case -12:
      return "Could not scan string constant. Unicode character could not be decoded.";
    case -13:
      return "Could not scan string constant. Unknown escape code.";
    case -14:
      return "Could not scan number constant.";
  }
  return "";
}

constexpr CharacterSet kStringSpecial("\"\\");

// Keeps the nesting depth balanced on every return path.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

}  // namespace

void CJSONScanner::setDataView(std::string_view data) {
  if (data.size() > 3) {
    const auto b = [&data](int i) { return static_cast<std::uint8_t>(data[i]); };
    std::string converted;
    if (b(0) != 0 && b(1) == 0 && b(2) != 0 && b(3) == 0) {
      converted = text::utf16ToUtf8(data, false);
    } else if (b(0) != 0 && b(1) == 0 && b(2) == 0 && b(3) == 0) {
      converted = text::utf32ToUtf8(data, false);
    } else if (b(0) == 0 && b(2) == 0 && b(3) != 0) {
      converted = b(1) == 0 ? text::utf32ToUtf8(data, true) : text::utf16ToUtf8(data, true);
    } else {
      CDataScanner::setDataView(data);
      return;
    }
    owned_ = std::move(converted);
    CDataScanner::setDataView(owned_);
    return;
  }
  CDataScanner::setDataView(data);
}

bool CJSONScanner::fail(std::size_t start, int code, Error* error) {
  pos_ = start;
  if (error) *error = Error{kCJSONScannerErrorDomain, code, descriptionFor(code)};
  return false;
}

template <class Emit>
bool CJSONScanner::scanValue(Emit&& emit, Error* error) {
  skipWhitespace();
  switch (currentCharacter()) {
    case '{': {
      DictionaryPtr dictionary;
      if (!scanJSONDictionary(dictionary, error)) return false;
      emit(std::move(dictionary));
      return true;
    }
    case '[': {
      ArrayPtr array;
      if (!scanJSONArray(array, error)) return false;
      emit(std::move(array));
      return true;
    }
    case '"':
    case '\'': {
      std::string_view text;
      if (!scanStringView(text, stringScratch_, error)) return false;
      emit(text);
      return true;
    }
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      double number = 0;
      if (!scanJSONNumberConstant(number, error)) return false;
      emit(number);
      return true;
    }
    case 't':
      if (scanUTF8String("true")) emit(Value::boolean(true));
      return true;
    case 'f':
      if (scanUTF8String("false")) emit(Value::boolean(false));
      return true;
    case 'n':
      if (scanUTF8String("null")) emit(Value());
      return true;
    default:
      // A byte that starts no value: success without a value, nothing consumed.
      return true;
  }
}

bool CJSONScanner::scanJSONObject(std::optional<Value>& out, Error* error) {
  out.reset();
  return scanValue([&out](auto&& from) { out.emplace(std::forward<decltype(from)>(from)); }, error);
}

bool CJSONScanner::scanJSONDictionary(DictionaryPtr& out, Error* error) {
  const std::size_t start = pos_;
  if (!scanCharacter('{')) return fail(start, -1, error);
  if (depth_ >= kMaxDepth) return fail(start, -4, error);
  DepthGuard guard(depth_);
  const std::size_t mark = entryStack_.size();
  auto failHere = [&](int code) {
    entryStack_.resize(mark);
    return fail(start, code, error);
  };
  auto& entries = entryStack_;
  std::string_view key;
  std::string escapedKey;  // a key with escapes must outlive the scan of nested values
  for (;;) {
    if (currentCharacter() == '}') break;
    skipWhitespace();
    if (currentCharacter() == '}') break;
    if (!scanStringView(key, escapedKey, nullptr)) return failHere(-2);
    skipWhitespace();
    if (!scanCharacter(':')) return failHere(-3);
    // A value that fails is reported as this dictionary's failure; a position
    // without a value leaves the key out.
    const auto emit = [&entries, &key](auto&& from) {
      entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(key),
                           std::forward_as_tuple(std::forward<decltype(from)>(from)));
    };
    if (!scanValue(emit, error)) return failHere(-4);
    skipWhitespace();
    if (scanCharacter(',')) {
      skipWhitespace();
      if (currentCharacter() == '}') break;
      continue;
    }
    if (currentCharacter() == '}') break;
    return failHere(-5);
  }
  if (!scanCharacter('}')) return failHere(-6);
  const auto first = entryStack_.begin() + static_cast<std::ptrdiff_t>(mark);
  out = std::make_shared<Dictionary>(std::vector<Dictionary::Entry>(
      std::make_move_iterator(first), std::make_move_iterator(entryStack_.end())));
  entryStack_.resize(mark);
  return true;
}

bool CJSONScanner::scanJSONArray(ArrayPtr& out, Error* error) {
  const std::size_t start = pos_;
  if (!scanCharacter('[')) return fail(start, -7, error);
  if (depth_ >= kMaxDepth) return fail(start, -8, error);
  DepthGuard guard(depth_);
  const std::size_t mark = itemStack_.size();
  auto failHere = [&](int code) {
    itemStack_.resize(mark);
    return fail(start, code, error);
  };
  // A position with no value (as in "[1,,2]") adds no element.
  const auto emit = [this](auto&& from) {
    itemStack_.emplace_back(std::forward<decltype(from)>(from));
  };
  skipWhitespace();
  while (currentCharacter() != ']') {
    if (!scanValue(emit, error)) return failHere(-8);
    skipWhitespace();
    if (scanCharacter(',')) {
      skipWhitespace();
      continue;
    }
    if (currentCharacter() != ']') return failHere(-9);
  }
  skipWhitespace();
  if (!scanCharacter(']')) return failHere(-10);
  const auto first = itemStack_.begin() + static_cast<std::ptrdiff_t>(mark);
  out = std::make_shared<Array>(std::make_move_iterator(first),
                                std::make_move_iterator(itemStack_.end()));
  itemStack_.resize(mark);
  return true;
}

bool CJSONScanner::scanJSONStringConstant(std::string& out, Error* error) {
  std::string_view view;
  if (!scanStringView(view, out, error)) return false;
  if (view.data() != out.data()) out.assign(view);
  return true;
}

bool CJSONScanner::scanStringView(std::string_view& view, std::string& scratch, Error* error) {
  skipWhitespace();
  const std::size_t start = pos_;
  if (!scanCharacter('"')) return fail(start, -11, error);
  const char* data = data_.data();
  // Most strings have no escape: answer a view of the data itself.
  std::size_t runEnd = pos_;
  while (runEnd < end_ && !kStringSpecial.contains(static_cast<std::uint8_t>(data[runEnd]))) {
    ++runEnd;
  }
  if (runEnd < end_ && data[runEnd] == '"') {
    view = data_.substr(pos_, runEnd - pos_);
    pos_ = runEnd + 1;
    return true;
  }
  std::string& out = scratch;
  out.clear();
  if (!scanEscapedString(out, start, error)) return false;
  view = out;
  return true;
}

bool CJSONScanner::scanEscapedString(std::string& out, std::size_t start, Error* error) {
  const char* data = data_.data();
  for (;;) {
    // Copy the run up to the next quote or backslash in one go.
    std::size_t runEnd = pos_;
    while (runEnd < end_ && !kStringSpecial.contains(static_cast<std::uint8_t>(data[runEnd]))) {
      ++runEnd;
    }
    out.append(data + pos_, runEnd - pos_);
    pos_ = runEnd;
    if (pos_ >= end_) {
      // End of input inside the string: it was never closed.
      return fail(start, -11, error);
    }
    if (data[pos_] == '"') {
      ++pos_;
      return true;
    }
    ++pos_;  // the backslash
    if (pos_ >= end_) return fail(start, -11, error);
    const char escaped = data[pos_++];
    switch (escaped) {
      case '"':
      case '\\':
      case '/':
        out.push_back(escaped);
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        auto readUnit = [this](std::uint32_t& unit) {
          if (end_ - pos_ < 4) return false;
          unit = 0;
          for (int k = 0; k < 4; ++k) {
            const int d = text::hexDigitValue(data_[pos_ + k]);
            if (d < 0) return false;
            unit = unit << 4 | static_cast<std::uint32_t>(d);
          }
          pos_ += 4;
          return true;
        };
        std::uint32_t unit = 0;
        if (!readUnit(unit)) return fail(start, -12, error);
        // Each escape is one UTF-16 code unit. A high surrogate escape followed
        // directly by a low surrogate escape forms one character, as the two units
        // would in UTF-16 text; a lone surrogate cannot be held in UTF-8 and becomes
        // U+FFFD.
        if (unit >= 0xD800 && unit <= 0xDBFF && end_ - pos_ >= 6 && data_[pos_] == '\\' &&
            data_[pos_ + 1] == 'u') {
          const std::size_t save = pos_;
          pos_ += 2;
          std::uint32_t low = 0;
          if (readUnit(low) && low >= 0xDC00 && low <= 0xDFFF) {
            text::appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            break;
          }
          pos_ = save;
        }
        text::appendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
        break;
      }
      default:
        if (strictEscapeCodes_) return fail(start, -13, error);
        out.push_back(escaped);
        break;
    }
  }
}

bool CJSONScanner::scanJSONNumberConstant(double& out, Error* error) {
  const std::size_t start = pos_;
  if (!scanNumber(&out)) return fail(start, -14, error);
  return true;
}

}  // namespace zv::json
