// The JSON writer: compact JSON (no whitespace anywhere), dictionaries in their own
// order, strings escaped by a fixed rule (the slash too), booleans as true/false,
// numbers in their shortest decimal form.
#pragma once

#include <stdexcept>
#include <string>

#include "json/Value.h"

namespace zv::json {

// Raised when a value cannot be written: "Cannot serialize data of type '…'" or
// "Could not serialize object '…'" (raw bytes that are not UTF-8).
class SerializeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes bytes.
class CJSONDataSerializer {
 public:
  static CJSONDataSerializer serializer() { return {}; }

  std::string serializeObject(const Value& value) const;
  std::string serializeArray(const Array& array) const;
  std::string serializeDictionary(const Dictionary& dictionary) const;

  // Appending forms, for callers that build one buffer.
  static void appendObject(std::string& out, const Value& value);
  static void appendString(std::string& out, std::string_view text);
  static void appendNumber(std::string& out, double number);
};

// The same writer answering text. Text and bytes are both UTF-8 here, so this is
// the byte writer under the name text callers use.
class CJSONSerializer : public CJSONDataSerializer {
 public:
  static CJSONSerializer serializer() { return {}; }
};

}  // namespace zv::json
