#include "update/VersionList.h"

#include "text/Numbers.h"
#include "text/Unicode.h"

namespace zv::update {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The length of the line break at `text[i]`, or 0. "\r\n" is one break.
std::size_t lineBreakAt(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c == '\r') return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
  if (c == '\n' || c == '\v' || c == '\f') return 1;
  if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
    return 2;  // U+0085 NEXT LINE
  }
  if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
      (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
       static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
    return 3;  // U+2028 LINE SEPARATOR, U+2029 PARAGRAPH SEPARATOR
  }
  return 0;
}

bool parseHexId(std::string_view field, std::uint32_t& out) {
  field = trimmed(field);
  if (field.size() > 2 && field[0] == '0' && (field[1] == 'x' || field[1] == 'X')) {
    field.remove_prefix(2);
  }
  if (field.empty() || field.size() > 8) return false;
  std::uint32_t value = 0;
  for (const char c : field) {
    const int digit = text::hexDigitValue(c);
    if (digit < 0) return false;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  out = value;
  return true;
}

void parseLine(std::string_view line, std::size_t number, VersionList& list) {
  if (trimmed(line).empty()) return;
  std::vector<std::string_view> fields;
  for (;;) {
    const auto comma = line.find(',');
    fields.push_back(line.substr(0, comma));
    if (comma == std::string_view::npos) break;
    line.remove_prefix(comma + 1);
  }
  const std::string where = "line " + std::to_string(number) + ": ";
  if (fields.size() != 4) {
    list.problems.push_back(where + std::to_string(fields.size()) +
                            " fields, expected 4 (vendor,product,version,location)");
    return;
  }
  VersionListEntry entry;
  entry.line = number;
  if (!parseHexId(fields[0], entry.vendorId)) {
    list.problems.push_back(where + "the vendor id is not a hexadecimal number");
    return;
  }
  if (!parseHexId(fields[1], entry.productId)) {
    list.problems.push_back(where + "the product id is not a hexadecimal number");
    return;
  }
  entry.version = trimmed(fields[2]);
  if (!isUsableVersionText(entry.version)) {
    list.problems.push_back(where + "the version must be dotted numbers such as 1.4.2");
    return;
  }
  entry.location = trimmed(fields[3]);
  list.entries.push_back(std::move(entry));
}

}  // namespace

bool isUsableVersionText(std::string_view version) {
  if (version.empty() || version.size() > 128) return false;
  // Components separated by single dots, none empty: "99..0" or "1." would compare as
  // versions nobody wrote.
  if (version.front() == '.' || version.back() == '.' || version.find("..") != version.npos) {
    return false;
  }
  for (const char c : version) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    c == '.' || c == '+' || c == '~' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

VersionList parseVersionList(std::string_view text) {
  VersionList list;
  if (!text::isValidUtf8(text)) {
    list.problems.push_back("the version list is not UTF-8 text");
    return list;
  }
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::size_t number = 1;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t length = lineBreakAt(text, i)) {
      parseLine(text.substr(start, i - start), number++, list);
      i += length;
      start = i;
    } else {
      ++i;
    }
  }
  parseLine(text.substr(start), number, list);
  return list;
}

}  // namespace zv::update
