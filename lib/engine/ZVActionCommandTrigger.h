// The commands of one element within a shift state (an element of "assignments").
// Registered so that prototypes naming the class build one; band selection comes with the
// engine.
#pragma once

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVActionCommandTrigger : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVActionCommandTrigger";
  const char* className() const override { return kClassName; }
};

}  // namespace zv::engine
