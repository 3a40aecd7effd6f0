// Any bytes as a property list (XML or binary): reading must not crash, hang or leak,
// and what reads must write and read back to the same value, written from the model
// alone or keeping the original's unchanged values.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <cmath>

#include "support/PropertyList.h"

namespace {

// Value equality where a NaN equals a NaN.
bool same(const zv::json::Value& a, const zv::json::Value& b) {
  using Type = zv::json::Value::Type;
  if (a.type() != b.type()) return false;
  if (a.type() == Type::Number && std::isnan(a.asNumber())) return std::isnan(b.asNumber());
  if (a.isArray()) {
    const auto& x = *a.asArray();
    const auto& y = *b.asArray();
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (!same(x[i], y[i])) return false;
    }
    return true;
  }
  if (a.isDictionary()) {
    const auto& x = *a.asDictionary();
    const auto& y = *b.asDictionary();
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (x.entry(i).first != y.entry(i).first || !same(x.entry(i).second, y.entry(i).second)) {
        return false;
      }
    }
    return true;
  }
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto value = zv::support::readPropertyList(bytes);
  if (!value || !(value->isDictionary() || value->isArray())) return 0;
  const std::string xml = zv::support::writePropertyListXML(*value);
  if (!zv::support::readPropertyList(xml)) std::abort();
  const std::string kept = zv::support::writePropertyListXML(*value, bytes);
  const auto back = zv::support::readPropertyList(kept);
  if (!back) std::abort();
  if (!same(*back, *value)) std::abort();
  return 0;
}
