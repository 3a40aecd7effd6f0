// The JSON writer: compact JSON (no whitespace anywhere), dictionaries in their own
// order, strings escaped by a fixed rule (the slash too), booleans as true/false,
// numbers in their shortest decimal form.
#pragma once

#include <string>

#include "base/Result.h"
#include "json/Value.h"

namespace zv::json {

// A value the writer cannot write: "Cannot serialize data of type '…'" (a kind JSON has
// no form for) or "Could not serialize object '…'" (raw bytes that are not UTF-8).
inline constexpr const char* kJSONWriterDomain = "CJSONSerializerErrorDomain";
enum JSONWriterCode { kCannotSerializeType = 1, kCannotSerializeObject = 2 };

// Writes bytes; a value that cannot be written is a failure of kJSONWriterDomain.
class CJSONDataSerializer {
 public:
  static CJSONDataSerializer serializer() { return {}; }

  base::Result<std::string> serializeObject(const Value& value) const;
  base::Result<std::string> serializeArray(const Array& array) const;
  base::Result<std::string> serializeDictionary(const Dictionary& dictionary) const;

  // Appending forms, for callers that build one buffer. On failure `out` is as it was.
  static base::Result<void> appendObject(std::string& out, const Value& value);
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
