#include "platform/HidSysfs.h"

#include <linux/input.h>

#include <cstdio>

#include "text/Numbers.h"

namespace zv::platform {

namespace {

// A field of 1 to `digits` hexadecimal digits, nothing else.
template <typename Number>
bool hexField(std::string_view text, std::size_t digits, Number& out) {
  if (text.empty() || text.size() > digits) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = text::hexDigitValue(c);
    if (digit < 0) return false;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  out = static_cast<Number>(value);
  return true;
}

}  // namespace

std::optional<HidId> parseHidId(std::string_view text) {
  const std::size_t first = text.find(':');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = text.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  HidId id;
  if (!hexField(text.substr(0, first), 4, id.bus) ||
      !hexField(text.substr(first + 1, second - first - 1), 8, id.vendor) ||
      !hexField(text.substr(second + 1), 8, id.product)) {
    return std::nullopt;
  }
  return id;
}

bool isUnderUhid(std::string_view syspath) {
  return syspath.find("/devices/virtual/misc/uhid/") != std::string_view::npos;
}

bool isPresentedByOurDriver(std::string_view phys, std::string_view name) {
  return phys.starts_with(kOurDriverPhysPrefix) || name.ends_with(kOurDriverNameSuffix);
}

std::string transportName(std::uint16_t bus) {
  switch (bus) {
    case BUS_USB:
      return "USB";
    case BUS_BLUETOOTH:
      return "Bluetooth";
    case BUS_I2C:
      return "I2C";
    case BUS_VIRTUAL:
      return "Virtual";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "Bus 0x%02X", bus);
      return text;
    }
  }
}

}  // namespace zv::platform
