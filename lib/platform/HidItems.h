// The items of a HID report descriptor, one at a time: each short item decoded (its type,
// tag and little-endian data of 0, 1, 2 or 4 bytes), long items skipped whole. Reads any
// bytes safely: an item that runs past the end ends the reading and says where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zv::platform {

enum HidItemType : std::uint8_t { kHidMainItem = 0, kHidGlobalItem = 1, kHidLocalItem = 2 };

struct HidItem {
  std::uint8_t type = 0;  // HidItemType, or 3 (reserved)
  std::uint8_t tag = 0;
  std::uint32_t data = 0;
  std::size_t size = 0;    // bytes of data
  std::size_t offset = 0;  // of the item's prefix
};

class HidItemReader {
 public:
  explicit HidItemReader(std::span<const std::uint8_t> descriptor) : descriptor_(descriptor) {}
  // The next short item; nothing at the end, or at an item cut short (see cutShortAt()).
  std::optional<HidItem> next();
  // Where the item that runs past the end begins; nothing while none did.
  std::optional<std::size_t> cutShortAt() const { return cutShortAt_; }

 private:
  std::span<const std::uint8_t> descriptor_;
  std::size_t at_ = 0;
  std::optional<std::size_t> cutShortAt_;
};

}  // namespace zv::platform
