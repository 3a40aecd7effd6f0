// Bit-exact access to the fields of a HID report buffer: bits count from bit 0 of byte 0,
// fields are little-endian and may start at any bit. The callers check that a field fits
// the report (fieldFits) before reading or writing it; fields wider than 64 bits are
// accessed in their low 64 bits.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace zv::driver {

inline bool fieldFits(std::size_t length, std::uint32_t bitOffset, std::uint32_t bitSize) {
  return (static_cast<std::uint64_t>(bitOffset) + bitSize + 7) / 8 <= length;
}

// Fast paths for the common shapes: single bits and byte-aligned 8- and 16-bit fields.
inline std::uint64_t readField(const std::uint8_t* report, std::uint32_t bitOffset,
                               std::uint32_t bitSize) {
  const std::uint8_t* p = report + bitOffset / 8;
  const unsigned shift = bitOffset % 8;
  if (bitSize == 1) return (p[0] >> shift) & 1u;
  if (shift == 0 && bitSize == 8) return p[0];
  if (shift == 0 && bitSize == 16) return p[0] | static_cast<std::uint64_t>(p[1]) << 8;
  if (bitSize == 0) return 0;
  const unsigned size = bitSize > 64 ? 64 : bitSize;
  const unsigned bytes = (shift + size + 7) / 8;  // at most 9
  std::uint64_t value = 0;
  for (unsigned i = 0; i < bytes && i < 8; ++i)
    value |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  value >>= shift;
  if (bytes == 9) value |= static_cast<std::uint64_t>(p[8]) << (64 - shift);
  return size == 64 ? value : value & ((std::uint64_t{1} << size) - 1);
}

inline void writeField(std::uint8_t* report, std::uint32_t bitOffset, std::uint32_t bitSize,
                       std::uint64_t value) {
  if (bitSize == 0) return;
  const unsigned size = bitSize > 64 ? 64 : bitSize;
  std::uint32_t bit = bitOffset;
  for (unsigned done = 0; done < size;) {
    std::uint8_t& byte = report[bit / 8];
    const unsigned shift = bit % 8;
    const unsigned take = std::min(8 - shift, size - done);
    const auto mask = static_cast<std::uint8_t>(((1u << take) - 1) << shift);
    const auto bits = static_cast<std::uint8_t>(((value >> done) << shift) & mask);
    byte = static_cast<std::uint8_t>((byte & ~mask) | bits);
    done += take;
    bit += take;
  }
}

// The field as a signed number of its own width (two's complement).
inline std::int64_t signExtend(std::uint64_t value, std::uint32_t bitSize) {
  if (bitSize == 0 || bitSize >= 64) return static_cast<std::int64_t>(value);
  const std::uint64_t sign = std::uint64_t{1} << (bitSize - 1);
  return static_cast<std::int64_t>((value ^ sign) - sign);
}

}  // namespace zv::driver
