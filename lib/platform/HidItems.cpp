#include "platform/HidItems.h"

namespace zv::platform {

namespace {
constexpr std::uint8_t kLongItemPrefix = 0xFE;
}  // namespace

std::optional<HidItem> HidItemReader::next() {
  while (at_ < descriptor_.size() && !cutShortAt_) {
    const std::uint8_t prefix = descriptor_[at_];
    if (prefix == kLongItemPrefix) {
      // A long item carries its data size in the next byte and its tag in the one after.
      if (at_ + 2 >= descriptor_.size() || at_ + 3 + descriptor_[at_ + 1] > descriptor_.size()) {
        cutShortAt_ = at_;
        return std::nullopt;
      }
      at_ += 3 + std::size_t{descriptor_[at_ + 1]};
      continue;
    }
    HidItem item;
    item.offset = at_;
    item.size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (at_ + 1 + item.size > descriptor_.size()) {
      cutShortAt_ = at_;
      return std::nullopt;
    }
    for (std::size_t i = 0; i < item.size; ++i) {
      item.data |= std::uint32_t{descriptor_[at_ + 1 + i]} << (8 * i);
    }
    item.type = (prefix >> 2) & 3;
    item.tag = prefix >> 4;
    at_ += 1 + item.size;
    return item;
  }
  return std::nullopt;
}

}  // namespace zv::platform
