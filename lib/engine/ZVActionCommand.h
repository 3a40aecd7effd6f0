// A command: up to three action blocks run over a press. Registered so that prototypes
// naming the class build one; running comes with the engine.
#pragma once

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVActionCommand : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVActionCommand";
  const char* className() const override { return kClassName; }
};

}  // namespace zv::engine
