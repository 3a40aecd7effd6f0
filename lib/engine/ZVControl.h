// A physical control of the device (an element of a controller's "controls").
// Registered so that prototypes naming the class build one.
#pragma once

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVControl : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVControl";
  const char* className() const override { return kClassName; }
};

}  // namespace zv::engine
