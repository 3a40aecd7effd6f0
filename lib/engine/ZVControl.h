// A physical control of the device: an element of a controller's "controls". Its node
// type says what kind of control it is ("button", "precision", "wheel", "hat", "axis" for
// an absolute axis, "motion" for relative motion such as a mouse's X and Y)
// and its node value is the element identifier.
#pragma once

#include <cstdint>
#include <string>

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVControl : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVControl";
  const char* className() const override { return kClassName; }

  // Reads the element identifier from the node value (after the base).
  void setJSONDictionary(const json::DictionaryPtr& dictionary) override;

  // HID usage page << 16 | usage.
  std::uint32_t hidElement() const { return hidElement_; }
  // A latching control toggles with each press ("latched" is true, see isTrueText).
  bool latched() const;
  // The node type without its trailing blank ("hat" marks the hat switch).
  std::string kind() const;

 private:
  std::uint32_t hidElement_ = 0;
};

// Whether a "latched" text means true: "true" in any letter case.
bool isTrueText(std::string text);

}  // namespace zv::engine
