// The root of a loaded profile. Registered under its class name so that a prototype's
// "@CLASS": "ZVProfile" builds one; loading, saving, button state and shift-state choice
// come with the engine.
#pragma once

#include "profile/ZVPrototypedObject.h"

namespace zv::profile {

class ZVProfile : public ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVProfile";
  const char* className() const override { return kClassName; }
};

}  // namespace zv::profile
