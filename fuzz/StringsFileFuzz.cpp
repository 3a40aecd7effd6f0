// Any bytes as a table of localized texts: reading must not crash, hang or leak, and
// every text it answers is valid UTF-8.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "support/StringsFile.h"
#include "text/Unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  zv::support::StringsFileError error;
  const auto table = zv::support::readStringsTable(bytes, &error);
  if (!table) {
    if (error.message.empty()) std::abort();
    return 0;
  }
  for (const auto& [key, value] : *table) {
    if (!zv::text::isValidUtf8(key) || !zv::text::isValidUtf8(value)) std::abort();
  }
  return 0;
}
