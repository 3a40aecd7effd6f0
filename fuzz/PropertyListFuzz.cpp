// Any bytes as a property list (XML or binary): reading must not crash, hang or leak,
// and what reads must write and read back to the same value.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/CJSONSerializer.h"
#include "support/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto value = zv::support::readPropertyList(bytes);
  if (!value || !(value->isDictionary() || value->isArray())) return 0;
  const std::string xml = zv::support::writePropertyListXML(*value);
  if (!zv::support::readPropertyList(xml)) std::abort();
  return 0;
}
