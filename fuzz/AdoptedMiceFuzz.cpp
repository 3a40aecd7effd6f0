// What the suite reads about a mouse it has no bundle for, on arbitrary bytes: the mouse
// collections of a report descriptor, the adoption record of a udev rule file and a
// uevent's values. Nothing may read out of bounds; a record that reads must read the same
// when written back, and a description's capabilities stay within their bounds.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "device/AdoptedMice.h"
#include "device/MouseCapabilities.h"
#include "platform/HidrawNodes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto capabilities =
      zv::device::mouseCapabilities(std::span<const std::uint8_t>(data, size));
  if (capabilities && capabilities->buttons.size() > zv::device::kMaxMouseButtons) std::abort();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto record = zv::device::parseAdoptionRule(text)) {
    const auto again = zv::device::parseAdoptionRule(zv::device::adoptionRule(*record));
    if (!again || !(*again == *record)) std::abort();
  }
  (void)zv::platform::ueventValue(text, "HID_ID");
  (void)zv::device::parseMouseIdentifier(text);
  return 0;
}
