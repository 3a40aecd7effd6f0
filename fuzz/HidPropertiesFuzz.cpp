// What the HID manager reads from sysfs, on arbitrary bytes: the report descriptor's
// primary usage and the HID_ID text. Neither may read out of bounds; an HID_ID that
// parses must parse the same when written back in the kernel's own form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/HidPrimaryUsage.h"
#include "platform/HidSysfs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)zv::platform::primaryUsage(std::span<const std::uint8_t>(data, size));
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto id = zv::platform::parseHidId(text)) {
    char canonical[32];
    std::snprintf(canonical, sizeof canonical, "%04X:%08X:%08X", unsigned{id->bus},
                  unsigned{id->vendor}, unsigned{id->product});
    if (zv::platform::parseHidId(canonical) != id) std::abort();
  }
  (void)zv::platform::isUnderUhid(text);
  return 0;
}
