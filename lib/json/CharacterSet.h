// A set of bytes, tested in constant time.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zv::json {

class CharacterSet {
 public:
  constexpr CharacterSet() = default;
  constexpr explicit CharacterSet(std::string_view members) {
    for (char c : members) bits_[static_cast<std::uint8_t>(c)] = true;
  }
  constexpr bool contains(std::uint8_t byte) const { return bits_[byte]; }

 private:
  std::array<bool, 256> bits_{};
};

}  // namespace zv::json
