// A shift state of a controller (an element of its "shifts"). Registered so that
// prototypes naming the class build one; the routing of element events comes with the engine.
#pragma once

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVShiftState : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVShiftState";
  const char* className() const override { return kClassName; }
};

}  // namespace zv::engine
