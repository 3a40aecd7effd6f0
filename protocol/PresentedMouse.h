// The mark of the mouse a zenvor-driver presents through uhid in place of the real one, so
// that neither another driver nor the device library ever takes the presented mouse for a
// real one (while every other uhid mouse, such as a Bluetooth LE mouse that BlueZ presents,
// is served like a USB one). Header-only.
//
//   phys  "zenvor-driver/" followed by the real mouse's phys
//   name  the real mouse's name followed by " (zenvor-driver)"
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zv::presented {

inline constexpr std::string_view kPhysPrefix = "zenvor-driver/";
inline constexpr std::string_view kNameSuffix = " (zenvor-driver)";
// uhid's fields hold this many characters (their size less the terminating zero).
inline constexpr std::size_t kMaxPhys = 63;
inline constexpr std::size_t kMaxName = 127;

// The marked phys and name, cut to what uhid holds; the name loses characters of its own
// rather than the suffix.
inline std::string markedPhys(std::string_view phys) {
  std::string marked(kPhysPrefix);
  marked += phys;
  if (marked.size() > kMaxPhys) marked.resize(kMaxPhys);
  return marked;
}
inline std::string markedName(std::string_view name) {
  std::string marked(name.substr(0, kMaxName - kNameSuffix.size()));
  marked += kNameSuffix;
  return marked;
}

// Either half of the mark is enough: an older daemon marked the name only.
inline bool isPresentedByDriver(std::string_view phys, std::string_view name) {
  return phys.substr(0, kPhysPrefix.size()) == kPhysPrefix ||
         (name.size() >= kNameSuffix.size() &&
          name.substr(name.size() - kNameSuffix.size()) == kNameSuffix);
}

}  // namespace zv::presented
