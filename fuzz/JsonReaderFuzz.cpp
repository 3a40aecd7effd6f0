// Any bytes through the JSON reader (lenient and strict) and, when they read, through
// the writer and back: the writer's output must read again to the same value.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv::json;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (bool strict : {false, true}) {
    CJSONDeserializer reader;
    reader.setStrictEscapeCodes(strict);
    Error error;
    auto value = reader.deserialize(text, &error);
    if (!value) continue;
    // Every value the reader produces can be written.
    const std::string written = CJSONSerializer::serializer().serializeObject(*value).valueOr("");
    if (written.empty()) std::abort();
    // Text whose first four bytes hold zero bytes reads as UTF-16/32 by design.
    if (written.substr(0, 4).find('\0') != std::string::npos) continue;
    auto again = reader.deserialize(written, &error);
    // Every value the writer writes reads back as itself, except NaN, which has no
    // JSON form (the reader never produces one).
    if (!again || !(*again == *value)) std::abort();
  }
  CJSONDeserializer().deserializeAsDictionary(text);
  CJSONDeserializer().deserializeAsArray(text);
  return 0;
}
