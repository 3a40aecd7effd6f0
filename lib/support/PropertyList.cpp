#include "support/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/ReadFile.h"
#include "text/Characters.h"
#include "text/Numbers.h"

namespace zv::support {

namespace {

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Seconds between the Unix epoch and the property-list epoch (2001-01-01).
constexpr std::int64_t kPlistEpoch = 978307200;
constexpr int kMaxDepth = 256;

std::string takeString(char* text) {
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

// Whether an integer node with the top bit set stands for a negative number. The library
// keeps whether such an integer was read as unsigned, but version 2.2 shows it only in
// its XML output.
bool isNegativeInteger(plist_t node) {
  std::uint64_t number = 0;
  plist_get_uint_val(node, &number);
  if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
  PlistPtr array(plist_new_array());
  plist_array_append_item(array.get(), plist_copy(node));
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(array.get(), &xml, &length);
  const bool negative =
      xml && std::string_view(xml, length).find("<integer>-") != std::string_view::npos;
  std::free(xml);
  return negative;
}

std::optional<json::Value> toValue(plist_t node, int depth) {
  if (depth > kMaxDepth) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
      auto dictionary = json::makeDictionary();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
          std::free(key);
          break;
        }
        std::string name = takeString(key);
        auto value = toValue(item, depth + 1);
        if (!value) {
          std::free(it);
          return std::nullopt;
        }
        dictionary->set(std::move(name), std::move(*value));
      }
      std::free(it);
      return json::Value(dictionary);
    }
    case PLIST_ARRAY: {
      auto array = json::makeArray();
      const std::uint32_t size = plist_array_get_size(node);
      array->reserve(size);
      for (std::uint32_t i = 0; i < size; ++i) {
        auto value = toValue(plist_array_get_item(node, i), depth + 1);
        if (!value) return std::nullopt;
        array->push_back(std::move(*value));
      }
      return json::Value(array);
    }
    case PLIST_STRING: {
      char* text = nullptr;
      plist_get_string_val(node, &text);
      return json::Value(takeString(text));
    }
    case PLIST_KEY: {  // a key without its value, as lenient XML reading leaves it
      char* text = nullptr;
      plist_get_key_val(node, &text);
      return json::Value(takeString(text));
    }
    case PLIST_BOOLEAN: {
      std::uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      return json::Value::boolean(flag != 0);
    }
    case PLIST_UINT: {
      // Stored as 64 bits; negative integers come back in two's complement.
      std::uint64_t number = 0;
      plist_get_uint_val(node, &number);
      if (isNegativeInteger(node)) {
        return json::Value(static_cast<double>(static_cast<std::int64_t>(number)));
      }
      return json::Value(static_cast<double>(number));
    }
    case PLIST_REAL: {
      double number = 0;
      plist_get_real_val(node, &number);
      return json::Value(number);
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      std::uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      std::string data(bytes ? bytes : "", bytes ? length : 0);
      std::free(bytes);
      return json::Value(json::Data{std::move(data)});
    }
    case PLIST_DATE: {
      std::int32_t seconds = 0;
      std::int32_t micro = 0;
      plist_get_date_val(node, &seconds, &micro);
      const std::time_t t = static_cast<std::time_t>(kPlistEpoch + seconds);
      std::tm parts{};
      gmtime_r(&t, &parts);
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
      return json::Value(std::string(text));
    }
    case PLIST_UID: {
      std::uint64_t number = 0;
      plist_get_uid_val(node, &number);
      return json::Value(static_cast<double>(number));
    }
    default:
      return std::nullopt;
  }
}

// The original's node when `value` is what it reads as: the value was not changed.
plist_t unchanged(const json::Value& value, plist_t original, int depth) {
  // A key standing without its value reads as text but must be written as a string.
  if (!original || plist_get_node_type(original) == PLIST_KEY) return nullptr;
  const std::optional<json::Value> was = toValue(original, depth);
  return was && *was == value ? plist_copy(original) : nullptr;
}

// `original`: the node at the same place in the file the value was read from, or null.
plist_t toPlist(const json::Value& value, int depth, plist_t original) {
  if (depth > kMaxDepth) return plist_new_string("");
  if (plist_t kept = unchanged(value, original, depth)) return kept;
  switch (value.type()) {
    case json::Value::Type::Dictionary: {
      plist_t dict = plist_new_dict();
      const bool within = original && plist_get_node_type(original) == PLIST_DICT;
      for (const auto& [key, item] : *value.asDictionary()) {
        if (item.isNull()) continue;  // property lists have no null
        plist_t was = within ? plist_dict_get_item(original, key.c_str()) : nullptr;
        plist_dict_set_item(dict, key.c_str(), toPlist(item, depth + 1, was));
      }
      return dict;
    }
    case json::Value::Type::Array: {
      plist_t array = plist_new_array();
      const bool within = original && plist_get_node_type(original) == PLIST_ARRAY;
      const std::uint32_t size = within ? plist_array_get_size(original) : 0;
      std::uint32_t index = 0;
      for (const auto& item : *value.asArray()) {
        if (item.isNull()) continue;
        plist_t was = index < size ? plist_array_get_item(original, index) : nullptr;
        plist_array_append_item(array, toPlist(item, depth + 1, was));
        ++index;
      }
      return array;
    }
    case json::Value::Type::Boolean:
      return plist_new_bool(value.asBoolean() ? 1 : 0);
    case json::Value::Type::Number: {
      const double number = value.asNumber();
      if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 9.2e18) {
        return plist_new_uint(static_cast<std::uint64_t>(static_cast<std::int64_t>(number)));
      }
      return plist_new_real(number);
    }
    case json::Value::Type::Data: {
      const std::string& bytes = value.asData()->bytes;
      return plist_new_data(bytes.data(), bytes.size());
    }
    case json::Value::Type::Serialized:
      return plist_new_string(value.asSerialized()->bytes.c_str());
    case json::Value::Type::String:
      return plist_new_string(value.asString().c_str());
    case json::Value::Type::Null:
      break;
  }
  return plist_new_string("");
}

// Whether an integer's text, read as the library reads it (strtoll/strtoull: blanks,
// a sign, then decimal, 0x hexadecimal or 0 octal digits), fits in 64 bits.
bool fitsIn64Bits(std::string_view text) {
  while (!text.empty() && text::isBlank(text.front())) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && text[0] == '0') {
    base = 8;
  }
  std::size_t digits = 0;
  while (digits < text.size()) {
    const int value = text::hexDigitValue(text[digits]);
    if (value < 0 || value >= base) break;
    ++digits;
  }
  if (digits == 0) return true;  // no number at all: read as 0, as it always was
  std::uint64_t magnitude = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + digits, magnitude, base);
  if (status != std::errc()) return false;
  return !negative || magnitude <= (std::uint64_t{1} << 63);
}

// "line 4: the integer 99999999999999999999999 does not fit in 64 bits", for the first
// <integer> element of the XML text that does not; comments and CDATA are skipped.
std::optional<std::string> oversizedInteger(std::string_view xml) {
  constexpr std::string_view kOpen = "<integer>";
  std::size_t at = 0;
  while ((at = xml.find('<', at)) != std::string_view::npos) {
    const std::string_view rest = xml.substr(at);
    std::string_view skipTo;
    if (rest.substr(0, 4) == "<!--") skipTo = "-->";
    if (rest.substr(0, 9) == "<![CDATA[") skipTo = "]]>";
    if (!skipTo.empty()) {
      at = xml.find(skipTo, at);
      if (at == std::string_view::npos) break;
      at += skipTo.size();
      continue;
    }
    if (rest.substr(0, kOpen.size()) != kOpen) {
      ++at;
      continue;
    }
    const std::size_t start = at + kOpen.size();
    const std::size_t end = std::min(xml.find('<', start), xml.size());
    const std::string_view number = xml.substr(start, end - start);
    if (!fitsIn64Bits(number)) {
      const std::size_t line =
          1 + static_cast<std::size_t>(
                  std::count(xml.begin(), xml.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
      std::string shown(number.substr(0, 40));
      if (number.size() > 40) shown += "…";
      return "line " + std::to_string(line) + ": the integer " + shown + " does not fit in 64 bits";
    }
    at = end;
  }
  return std::nullopt;
}

// The library's tree of the bytes, or null with `error` saying why.
PlistPtr parse(std::string_view bytes, std::string* error) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    if (error) *error = bytes.empty() ? "empty property list" : "property list too large";
    return nullptr;
  }
  // The property-list library aborts the process when it hands out a string or key
  // holding a NUL byte. XML cannot hold one, so such text is refused before parsing; a
  // binary list is turned into XML text first and checked the same way.
  std::string converted;
  if (plist_is_binary(bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {
    plist_t binary = nullptr;
    plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &binary);
    PlistPtr binaryOwner(binary);
    if (!binary) {
      if (error) *error = "not a property list (damaged binary form)";
      return nullptr;
    }
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(binary, &xml, &length);
    converted.assign(xml ? xml : "", xml ? length : 0);
    std::free(xml);
    bytes = converted;
  }
  if (bytes.find('\0') != std::string_view::npos) {
    if (error) *error = "not a property list (contains a NUL byte)";
    return nullptr;
  }
  if (const auto problem = oversizedInteger(bytes)) {
    if (error) *error = "not a property list this suite can keep (" + *problem + ")";
    return nullptr;
  }
  plist_t root = nullptr;
  plist_from_xml(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  if (!root && error) *error = "not a property list";
  return PlistPtr(root);
}

// What a property list cannot store, described; none when the tree can be written.
std::optional<std::string> unstorable(const json::Value& value, int depth,
                                      const std::string& where) {
  if (depth > kMaxDepth)
    return where + " is nested more than " + std::to_string(kMaxDepth) + " deep";
  const auto hasNul = [](std::string_view text) { return text.find('\0') != text.npos; };
  if (value.isString() && hasNul(value.asString())) {
    return where + " holds a NUL character, which a property list cannot store";
  }
  if (const auto* serialized = value.asSerialized(); serialized && hasNul(serialized->bytes)) {
    return where + " holds a NUL character, which a property list cannot store";
  }
  if (value.isDictionary()) {
    for (const auto& [key, item] : *value.asDictionary()) {
      const std::string name = where + "/" + key;
      if (hasNul(key)) return "a key in " + where + " holds a NUL character";
      if (auto problem = unstorable(item, depth + 1, name)) return problem;
    }
  }
  if (value.isArray()) {
    std::size_t index = 0;
    for (const auto& item : *value.asArray()) {
      if (auto problem = unstorable(item, depth + 1, where + "/" + std::to_string(index++))) {
        return problem;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<json::Value> readPropertyList(std::string_view bytes, std::string* error) {
  const PlistPtr root = parse(bytes, error);
  if (!root) return std::nullopt;
  auto value = toValue(root.get(), 0);
  if (!value && error) *error = "property list nested too deeply or of unknown kind";
  return value;
}

std::optional<json::Value> readPropertyListFile(const std::filesystem::path& path,
                                                std::string* error, std::string* bytes) {
  base::Result<std::string> read = platform::readFile(path, kPropertyListFileLimit);
  if (!read) {
    if (error) *error = read.failure().message;
    return std::nullopt;
  }
  std::string& data = *read;
  std::string why;
  auto value = readPropertyList(data, &why);
  if (!value && error) *error = "cannot read " + path.string() + ": " + why;
  if (value && bytes) *bytes = std::move(data);
  return value;
}

std::string writePropertyListXML(const json::Value& root, std::string_view original) {
  PlistPtr was = original.empty() ? nullptr : parse(original, nullptr);
  PlistPtr node(root.isDictionary() || root.isArray() ? toPlist(root, 0, was.get())
                                                      : plist_new_dict());
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(node.get(), &xml, &length);
  std::string text(xml ? xml : "", xml ? length : 0);
  std::free(xml);
  return text;
}

bool writePropertyListFile(const std::filesystem::path& path, const json::Value& root,
                           std::string* error, unsigned mode, std::string_view original) {
  if (const auto problem = unstorable(root, 0, "the root")) {
    if (error) *error = "cannot write " + path.string() + ": " + *problem;
    return false;
  }
  const std::string xml = writePropertyListXML(root, original);
  std::string why;
  if (!readPropertyList(xml, &why)) {
    if (error)
      *error = "cannot write " + path.string() + ": the text would not read back (" + why + ")";
    return false;
  }
  const auto written = platform::writeFileAtomically(path, xml, static_cast<mode_t>(mode));
  if (!written && error) *error = written.failure().message;
  return written.ok();
}

}  // namespace zv::support
