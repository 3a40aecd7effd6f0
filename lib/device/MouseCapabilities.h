// What a report descriptor says a mouse has: the buttons, wheel, pan and X/Y motion of its
// Mouse and Pointer application collections (Generic Desktop usages 2 and 1), whatever
// their report IDs. Other collections of the same descriptor (a keyboard, consumer keys,
// vendor reports) are not the mouse and are left out. Used to list the mice present and
// to describe a mouse the suite has no bundle for.
//
// The reader walks the descriptor item by item, keeping the usage page (with push and
// pop), the local usages and usage ranges, and the collections open around each Input
// item. It reads any bytes safely: a descriptor cut short, a collection never closed or
// a range of absurd size gives a clear failure or a bounded answer, never a crash.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Result.h"

namespace zv::device {

inline constexpr const char* kMouseDescriptorDomain = "MouseDescriptor";
enum MouseDescriptorCode : int {
  kDescriptorCutShort = 1,  // an item runs past the end
  kNoMouseCollection = 2,   // no Mouse or Pointer application collection with input
};

// More buttons than a button-state word holds are not told apart.
inline constexpr std::size_t kMaxMouseButtons = 64;

struct MouseCapabilities {
  std::vector<std::uint16_t> buttons;  // button numbers (page 9 usages), ascending, unique
  bool wheel = false;                  // Generic Desktop Wheel
  bool pan = false;                    // Consumer AC Pan
  bool x = false;
  bool y = false;
  bool relativeX = false;  // X reports motion (a mouse), not a position (a stick)
  bool relativeY = false;
  // "5 buttons, wheel, pan"
  std::string summary() const;
  bool operator==(const MouseCapabilities&) const = default;
};

// The capabilities of the descriptor's mouse collections (see above).
base::Result<MouseCapabilities> mouseCapabilities(std::span<const std::uint8_t> descriptor);

}  // namespace zv::device
