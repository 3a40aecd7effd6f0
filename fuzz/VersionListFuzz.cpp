// The version list an update server sends: any bytes must parse without a crash, and
// every entry the parser keeps must be one the updater can use safely.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "update/CompareVersionStrings.h"
#include "update/VersionList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto list = zv::update::parseVersionList(text);
  std::optional<std::string_view> newest;
  for (const auto& entry : list.entries) {
    if (!zv::update::isUsableVersionText(entry.version)) std::abort();
    if (entry.version.find('/') != std::string::npos) std::abort();
    // Comparison is antisymmetric in sign.
    const auto forward = zv::update::CompareVersionStrings(newest, entry.version);
    const auto backward = zv::update::CompareVersionStrings(entry.version, newest);
    if ((forward > 0) != (backward < 0) || (forward == 0) != (backward == 0)) std::abort();
    if (forward > 0) newest = entry.version;
  }
  return 0;
}
