#include "platform/HidPrimaryUsage.h"

#include <cstddef>

#include "platform/HidItems.h"

namespace zv::platform {

namespace {

// The tags of the short items the scan needs.
constexpr std::uint8_t kCollectionTag = 0x0A;
constexpr std::uint8_t kUsagePageTag = 0x00;
constexpr std::uint8_t kUsageTag = 0x00;

}  // namespace

std::optional<HidUsage> primaryUsage(std::span<const std::uint8_t> descriptor) {
  std::uint16_t page = 0;
  // The first usage among the local items since the last main item, and whether it
  // named its own page.
  bool haveUsage = false;
  std::uint32_t firstUsage = 0;
  bool extended = false;
  HidItemReader items(descriptor);
  while (const auto item = items.next()) {
    if (item->type == kHidGlobalItem && item->tag == kUsagePageTag) {
      page = static_cast<std::uint16_t>(item->data);
    } else if (item->type == kHidLocalItem && item->tag == kUsageTag) {
      if (!haveUsage) {
        haveUsage = true;
        firstUsage = item->data;
        extended = item->size == 4;
      }
    } else if (item->type == kHidMainItem) {
      // The first collection of the descriptor is necessarily a top-level one.
      if (item->tag == kCollectionTag) {
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
