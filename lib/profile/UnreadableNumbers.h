// Members of a profile that the prototype marks as hexadecimal numbers ("%X": times,
// pages, usages, values) but whose text is not one: "time=zz", "time=-1". The object tree
// reads them as 0 (or 0xFFFFFFFF when too large), as the format always has; this finds
// them so that tools and logs can say so instead of running them silently.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/Value.h"

namespace zv::profile {

struct UnreadableNumber {
  std::string node;    // the node's type ("action")
  std::string member;  // "time"
  std::string text;    // "zz"
  std::uint32_t readAs = 0;
  // "time=zz in an action node is not a 32-bit hexadecimal number; it counts as 0".
  std::string describe() const;
};

// Whether the text reads whole as a 32-bit hexadecimal number (blanks around it, an
// optional "0x"). Empty text is no number and no mistake either: it reads as 0.
bool isHexNumberText(std::string_view text);

// Every such member of a profile's JSON as node text reads it (before the object tree
// converts "%X" members to numbers), in document order, walking it as the object tree
// does with the prototype.
std::vector<UnreadableNumber> unreadableNumbers(const json::Value& profile,
                                                const json::DictionaryPtr& prototype);

}  // namespace zv::profile
