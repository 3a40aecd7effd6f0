#include "platform/HidPrimaryUsage.h"

#include <cstddef>

namespace zv::platform {

namespace {

// Item types and tags of the short items the scan needs.
constexpr std::uint8_t kMainItem = 0;
constexpr std::uint8_t kGlobalItem = 1;
constexpr std::uint8_t kLocalItem = 2;
constexpr std::uint8_t kCollectionTag = 0x0A;
constexpr std::uint8_t kUsagePageTag = 0x00;
constexpr std::uint8_t kUsageTag = 0x00;
constexpr std::uint8_t kLongItemPrefix = 0xFE;

std::uint32_t littleEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
  return value;
}

}  // namespace

std::optional<HidUsage> primaryUsage(std::span<const std::uint8_t> descriptor) {
  std::uint16_t page = 0;
  // The first usage among the local items since the last main item, and whether it
  // named its own page.
  bool haveUsage = false;
  std::uint32_t firstUsage = 0;
  bool extended = false;
  std::size_t at = 0;
  while (at < descriptor.size()) {
    const std::uint8_t prefix = descriptor[at];
    if (prefix == kLongItemPrefix) {
      // Long items carry their data size in the next byte; none of them matters here.
      if (at + 1 >= descriptor.size()) return std::nullopt;
      at += 3 + std::size_t{descriptor[at + 1]};
      continue;
    }
    const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (at + 1 + size > descriptor.size()) return std::nullopt;
    const std::uint32_t data = littleEndian(descriptor.subspan(at + 1, size));
    const std::uint8_t type = (prefix >> 2) & 3;
    const std::uint8_t tag = prefix >> 4;
    at += 1 + size;

    if (type == kGlobalItem && tag == kUsagePageTag) {
      page = static_cast<std::uint16_t>(data);
    } else if (type == kLocalItem && tag == kUsageTag) {
      if (!haveUsage) {
        haveUsage = true;
        firstUsage = data;
        extended = size == 4;
      }
    } else if (type == kMainItem) {
      // The first collection of the descriptor is necessarily a top-level one.
      if (tag == kCollectionTag) {
        if (!haveUsage) return std::nullopt;
        const auto usage = static_cast<std::uint16_t>(firstUsage);
        return HidUsage{extended ? static_cast<std::uint16_t>(firstUsage >> 16) : page, usage};
      }
      haveUsage = false;
    }
  }
  return std::nullopt;
}

}  // namespace zv::platform
