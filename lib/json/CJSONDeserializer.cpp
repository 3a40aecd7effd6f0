#include "json/CJSONDeserializer.h"

#include "json/CJSONScanner.h"

namespace zv::json {

namespace {
bool rejectEmpty(std::string_view data, Error* error) {
  if (!data.empty()) return false;
  if (error) *error = Error{kCJSONDeserializerErrorDomain, -1, ""};
  return true;
}
}  // namespace

std::optional<Value> CJSONDeserializer::deserialize(std::string_view data, Error* error) const {
  if (rejectEmpty(data, error)) return std::nullopt;
  CJSONScanner scanner;
  scanner.setDataView(data);
  scanner.setStrictEscapeCodes(strictEscapeCodes_);
  std::optional<Value> value;
  if (!scanner.scanJSONObject(value, error)) return std::nullopt;
  return value;
}

DictionaryPtr CJSONDeserializer::deserializeAsDictionary(std::string_view data,
                                                         Error* error) const {
  if (rejectEmpty(data, error)) return nullptr;
  CJSONScanner scanner;
  scanner.setDataView(data);
  scanner.setStrictEscapeCodes(strictEscapeCodes_);
  scanner.skipWhitespace();
  DictionaryPtr dictionary;
  if (!scanner.scanJSONDictionary(dictionary, error)) return nullptr;
  return dictionary;
}

ArrayPtr CJSONDeserializer::deserializeAsArray(std::string_view data, Error* error) const {
  if (rejectEmpty(data, error)) return nullptr;
  CJSONScanner scanner;
  scanner.setDataView(data);
  scanner.setStrictEscapeCodes(strictEscapeCodes_);
  scanner.skipWhitespace();
  ArrayPtr array;
  if (!scanner.scanJSONArray(array, error)) return nullptr;
  return array;
}

DictionaryPtr dictionaryWithJSONData(std::string_view data, Error* error) {
  auto value = CJSONDeserializer::deserializer().deserialize(data, error);
  return value ? value->asDictionary() : nullptr;
}

}  // namespace zv::json
