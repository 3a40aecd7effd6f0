// The reader's façade: whole-document reads with the scanner.
#pragma once

#include <optional>
#include <string_view>

#include "json/Error.h"
#include "json/Value.h"

namespace zv::json {

class CJSONDeserializer {
 public:
  static CJSONDeserializer deserializer() { return {}; }

  bool strictEscapeCodes() const { return strictEscapeCodes_; }
  void setStrictEscapeCodes(bool strict) { strictEscapeCodes_ = strict; }

  // Any JSON value at the start of the data (leading whitespace is skipped, text after
  // the value is ignored). Empty data fails with code -1 in the deserializer domain.
  // A start that holds no value answers nothing without an error.
  std::optional<Value> deserialize(std::string_view data, Error* error = nullptr) const;
  // Require a dictionary / an array at the start (the scanner's -1 / -7 otherwise).
  DictionaryPtr deserializeAsDictionary(std::string_view data, Error* error = nullptr) const;
  ArrayPtr deserializeAsArray(std::string_view data, Error* error = nullptr) const;

 private:
  bool strictEscapeCodes_ = false;
};

// deserialize() for callers that want a dictionary: any other value answers nothing.
DictionaryPtr dictionaryWithJSONData(std::string_view data, Error* error = nullptr);

}  // namespace zv::json
