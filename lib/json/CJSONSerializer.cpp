#include "json/CJSONSerializer.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "text/Unicode.h"

namespace zv::json {

namespace {
void appendArray(std::string& out, const Array& array) {
  out.push_back('[');
  bool first = true;
  for (const Value& item : array) {
    if (!first) out.push_back(',');
    first = false;
    CJSONDataSerializer::appendObject(out, item);
  }
  out.push_back(']');
}

void appendDictionary(std::string& out, const Dictionary& dictionary) {
  out.push_back('{');
  bool first = true;
  for (const auto& [key, item] : dictionary) {
    if (!first) out.push_back(',');
    first = false;
    CJSONDataSerializer::appendString(out, key);
    out.push_back(':');
    CJSONDataSerializer::appendObject(out, item);
  }
  out.push_back('}');
}
}  // namespace

void CJSONDataSerializer::appendString(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out.push_back('"');
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char* escape = nullptr;
    switch (c) {
      case '\\':
        escape = "\\\\";
        break;
      case '"':
        escape = "\\\"";
        break;
      case '/':
        escape = "\\/";
        break;
      case '\b':
        escape = "\\b";
        break;
      case '\f':
        escape = "\\f";
        break;
      case '\n':
        escape = "\\n";
        break;
      case '\r':
        escape = "\\r";
        break;
      case '\t':
        escape = "\\t";
        break;
      default:
        continue;  // other characters, control characters included, stay as they are
    }
    out.append(text.data() + runStart, i - runStart);
    out.append(escape);
    runStart = i + 1;
  }
  out.append(text.data() + runStart, text.size() - runStart);
  out.push_back('"');
}

void CJSONDataSerializer::appendNumber(std::string& out, double number) {
  // Infinities (read from texts such as 1e999) are written so that they read back
  // as the same value; NaN has no JSON form and is written as null.
  if (std::isnan(number)) {
    out.append("null");
    return;
  }
  if (std::isinf(number)) {
    out.append(number < 0 ? "-1e999" : "1e999");
    return;
  }
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
  (void)ec;  // 32 bytes always hold the shortest form of a double
  // The reader's number characters have no '+', so "1e+21" would read back as 1:
  // exponents are written without it ("1e21").
  char* plus = std::find(buffer, end, '+');
  if (plus != end) end = std::copy(plus + 1, end, plus);
  out.append(buffer, end);
}

void CJSONDataSerializer::appendObject(std::string& out, const Value& value) {
  switch (value.type()) {
    case Value::Type::Null:
      out.append("null");
      return;
    case Value::Type::Boolean:
      out.append(value.asBoolean() ? "true" : "false");
      return;
    case Value::Type::Number:
      appendNumber(out, value.asNumber());
      return;
    case Value::Type::String:
      appendString(out, value.asString());
      return;
    case Value::Type::Array:
      appendArray(out, *value.asArray());
      return;
    case Value::Type::Dictionary:
      appendDictionary(out, *value.asDictionary());
      return;
    case Value::Type::Data: {
      const std::string& bytes = value.asData()->bytes;
      if (!text::isValidUtf8(bytes)) {
        throw SerializeError("Could not serialize object '<" + std::to_string(bytes.size()) +
                             " bytes>'");
      }
      appendString(out, bytes);
      return;
    }
    case Value::Type::Serialized:
      out.append(value.asSerialized()->bytes);
      return;
  }
  throw SerializeError("Cannot serialize data of type '" + std::string(value.typeName()) + "'");
}

std::string CJSONDataSerializer::serializeObject(const Value& value) const {
  std::string out;
  appendObject(out, value);
  return out;
}

std::string CJSONDataSerializer::serializeArray(const Array& array) const {
  std::string out;
  appendArray(out, array);
  return out;
}

std::string CJSONDataSerializer::serializeDictionary(const Dictionary& dictionary) const {
  std::string out;
  appendDictionary(out, dictionary);
  return out;
}

}  // namespace zv::json
