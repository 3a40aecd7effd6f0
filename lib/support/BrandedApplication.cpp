#include "support/BrandedApplication.h"

#include "support/Bundle.h"

namespace zv::support {

std::optional<std::string> ZVBrandedApplication::brand() {
  const std::optional<Bundle> bundle = Bundle::main();
  if (!bundle) return std::nullopt;
  const json::Value value = bundle->objectForInfoDictionaryKey("Brand");
  if (!value.isString()) return std::nullopt;
  // A packaging that did not substitute the build setting leaves its name in place.
  if (value.asString() == "BRAND_NAME") return "Zenvor";
  return value.asString();
}

std::string ZVBrandedApplication::brandProfileExtension() {
  return "pr1";
}

}  // namespace zv::support
