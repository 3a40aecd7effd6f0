#include "engine/ZVActionCommand.h"

namespace zv::engine {
namespace {
const profile::ClassRegistration<ZVActionCommand> registration;
}  // namespace
}  // namespace zv::engine
