#include "engine/ZVBand.h"

#include "engine/ZVActionCommand.h"

namespace zv::engine {
namespace {
const profile::ClassRegistration<ZVBand> registration;
}  // namespace

std::shared_ptr<ZVActionCommand> ZVBand::command() const {
  return std::dynamic_pointer_cast<ZVActionCommand>(child("command"));
}

}  // namespace zv::engine
