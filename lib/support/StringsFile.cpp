#include "support/StringsFile.h"

#include "platform/ReadFile.h"
#include "text/Characters.h"
#include "text/Numbers.h"
#include "text/Unicode.h"

namespace zv::support {
namespace {

// Tables are a few kilobytes; anything far larger is not one.
constexpr std::size_t kLargestFile = 16 * 1024 * 1024;

bool isBareCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '$' || c == ':' || c == '/' || c == '-';
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<StringsTable> read(StringsFileError* error) {
    StringsTable table;
    while (true) {
      if (!skipBlanksAndComments()) return fail(error);
      if (at_ >= text_.size()) return table;
      std::string key;
      if (!readText(key)) return fail(error);
      if (!skipBlanksAndComments()) return fail(error);
      std::string value;
      if (at_ < text_.size() && text_[at_] == '=') {
        ++at_;
        if (!skipBlanksAndComments()) return fail(error);
        if (!readText(value)) return fail(error);
        if (!skipBlanksAndComments()) return fail(error);
      } else {
        value = key;
      }
      if (at_ >= text_.size() || text_[at_] != ';') {
        failure_ = "expected ';' after the entry";
        return fail(error);
      }
      ++at_;
      table.insert_or_assign(std::move(key), std::move(value));
    }
  }

 private:
  std::nullopt_t fail(StringsFileError* error) const {
    if (error) {
      error->message = failure_;
      error->line = 1;
      error->column = 1;
      for (std::size_t i = 0; i < failureAt_ && i < text_.size(); ++i) {
        const char c = text_[i];
        if (c == '\n') {
          ++error->line;
          error->column = 1;
        } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
          ++error->column;
        }
      }
    }
    return std::nullopt;
  }

  bool stop(std::string message, std::size_t where) {
    failure_ = std::move(message);
    failureAt_ = where;
    return false;
  }

  bool skipBlanksAndComments() {
    while (at_ < text_.size()) {
      if (text::isBlank(text_[at_])) {
        ++at_;
      } else if (text_.substr(at_, 2) == "//") {
        const std::size_t end = text_.find('\n', at_);
        at_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (text_.substr(at_, 2) == "/*") {
        const std::size_t end = text_.find("*/", at_ + 2);
        if (end == std::string_view::npos) return stop("comment not closed", at_);
        at_ = end + 2;
      } else {
        break;
      }
    }
    failureAt_ = at_;
    return true;
  }

  bool readText(std::string& out) {
    if (at_ >= text_.size()) return stop("expected a text at the end of the file", at_);
    if (text_[at_] == '"') return readQuoted(out);
    const std::size_t start = at_;
    while (at_ < text_.size() && isBareCharacter(text_[at_])) ++at_;
    if (at_ == start) {
      const char c = text_[at_];
      if (c > ' ' && c < 0x7F) return stop(std::string("unexpected character '") + c + "'", at_);
      return stop("unexpected character", at_);
    }
    out.assign(text_.substr(start, at_ - start));
    return true;
  }

  bool readQuoted(std::string& out) {
    const std::size_t start = at_++;
    while (true) {
      if (at_ >= text_.size()) return stop("text not closed with '\"'", start);
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (at_ >= text_.size()) return stop("text not closed with '\"'", start);
      const char escaped = text_[at_++];
      switch (escaped) {
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'a':
          out.push_back('\a');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'v':
          out.push_back('\v');
          break;
        case 'u':
        case 'U':
          if (!readUnicodeEscape(out)) return false;
          break;
        default:
          if (escaped >= '0' && escaped <= '7') {
            unsigned value = static_cast<unsigned>(escaped - '0');
            for (int digits = 1;
                 digits < 3 && at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '7';
                 ++digits) {
              value = value * 8 + static_cast<unsigned>(text_[at_++] - '0');
            }
            text::appendUtf8(out, static_cast<char32_t>(value));
          } else {
            out.push_back(escaped);
          }
      }
    }
  }

  // Four hexadecimal digits after "\u"; answers the code unit or -1.
  long readCodeUnit() {
    if (at_ + 4 > text_.size()) return -1;
    long value = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = text::hexDigitValue(text_[at_ + static_cast<std::size_t>(i)]);
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    at_ += 4;
    return value;
  }

  bool readUnicodeEscape(std::string& out) {
    const std::size_t start = at_ - 2;
    const long unit = readCodeUnit();
    if (unit < 0) return stop("\\u needs four hexadecimal digits", start);
    char32_t character = static_cast<char32_t>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF && text_.substr(at_, 2).size() == 2 &&
        text_[at_] == '\\' && (text_[at_ + 1] == 'u' || text_[at_ + 1] == 'U')) {
      const std::size_t before = at_;
      at_ += 2;
      const long low = readCodeUnit();
      if (low >= 0xDC00 && low <= 0xDFFF) {
        character = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                    (static_cast<char32_t>(low) - 0xDC00);
      } else {
        at_ = before;  // not a pair: the next escape is read on its own
      }
    }
    if (character >= 0xD800 && character <= 0xDFFF) character = 0xFFFD;
    text::appendUtf8(out, character);
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string failure_;
  std::size_t failureAt_ = 0;
};

}  // namespace

std::string StringsFileError::describe() const {
  if (line == 0) return message;
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

std::optional<StringsTable> readStringsTable(std::string_view bytes, StringsFileError* error) {
  std::string utf8;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    utf8 = text::utf16ToUtf8(bytes.substr(2), false);
  } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF) {
    utf8 = text::utf16ToUtf8(bytes.substr(2), true);
  } else {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (!text::isValidUtf8(bytes)) {
      if (error) *error = {"not UTF-8 text, nor UTF-16 with a byte-order mark", 0, 0};
      return std::nullopt;
    }
    utf8.assign(bytes);
  }
  if (utf8.find('\0') != std::string::npos) {
    if (error) *error = {"the text holds a NUL character", 0, 0};
    return std::nullopt;
  }
  return Reader(utf8).read(error);
}

std::optional<StringsTable> readStringsFile(const std::filesystem::path& path,
                                            StringsFileError* error) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!ec && size > kLargestFile) {
    if (error) *error = {path.string() + ": too large for a strings file", 0, 0};
    return std::nullopt;
  }
  const base::Result<std::string> bytes = platform::readFile(path, kLargestFile);
  if (!bytes) {
    if (error) *error = {bytes.failure().message, 0, 0};
    return std::nullopt;
  }
  return readStringsTable(*bytes, error);
}

}  // namespace zv::support
