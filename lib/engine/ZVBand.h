// A value band of a trigger, naming the command it runs. Registered so that prototypes
// naming the class build one.
#pragma once

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVBand : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVBand";
  const char* className() const override { return kClassName; }
};

}  // namespace zv::engine
