// The primary usage of a HID device: the usage page and usage of its report descriptor's
// first top-level collection (a mouse is Generic Desktop 0x01, Mouse 0x02). Device
// matching uses it to tell a mouse from the other interfaces of the same product.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace zv::platform {

struct HidUsage {
  std::uint16_t page = 0;
  std::uint16_t usage = 0;
  bool operator==(const HidUsage&) const = default;
};

// Scans the descriptor's items up to the first collection opened at the top level and
// answers the usage page in force there and the first usage declared for it (a 4-byte
// usage carries its own page in its upper half). Nothing when the descriptor opens no
// top-level collection, declares no usage for it, or breaks off before it. Reads any
// bytes safely.
std::optional<HidUsage> primaryUsage(std::span<const std::uint8_t> descriptor);

}  // namespace zv::platform
