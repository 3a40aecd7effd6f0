// An action block: the timed actions of one phase of a command. Registered so that
// prototypes naming the class build one; running comes with the engine.
#pragma once

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVActionBlock : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVActionBlock";
  const char* className() const override { return kClassName; }
};

}  // namespace zv::engine
