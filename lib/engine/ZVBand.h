// A value band of a trigger: a threshold and the command that runs while the element's
// value falls into the band (see ZVActionCommandTrigger for how a band is chosen).
#pragma once

#include <cstdint>
#include <memory>

#include "profile/ZVPrototypedObject.h"

namespace zv::engine {

class ZVActionCommand;

class ZVBand : public profile::ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "ZVBand";
  const char* className() const override { return kClassName; }

  // "band" as a signed 32-bit integer (decimal in node text).
  std::int32_t threshold() const { return integer("band"); }
  // nullptr when the band has no command.
  std::shared_ptr<ZVActionCommand> command() const;
};

}  // namespace zv::engine
