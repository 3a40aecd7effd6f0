// Any bytes as a profile store's info file or an application-links file: reading must
// not crash, and what the store writes back from it must read again (the writer never
// writes what its own reader refuses), keeping the values it does not use.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/FrontmostApplication.h"
#include "store/ProfileStoreInfo.h"
#include "support/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto value = zv::support::readPropertyList(bytes);
  if (!value || !value->isDictionary()) return 0;
  const auto info = zv::store::ProfileStoreInfo::fromDictionary(value->asDictionary());
  const auto xml = zv::support::writePropertyListXML(zv::json::Value(info.toDictionary()));
  const auto again = zv::support::readPropertyList(xml);
  if (!again || !again->isDictionary()) std::abort();
  if (again->asDictionary()->size() < info.others->size()) std::abort();
  // The same bytes as links: every key is normalised for lookups.
  for (const auto& [key, link] : *value->asDictionary()) {
    zv::platform::normaliseApplicationKey(key);
    (void)link;
  }
  return 0;
}
