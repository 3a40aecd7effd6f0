#include "engine/ZVControl.h"

namespace zv::engine {
namespace {
const profile::ClassRegistration<ZVControl> registration;
}  // namespace
}  // namespace zv::engine
