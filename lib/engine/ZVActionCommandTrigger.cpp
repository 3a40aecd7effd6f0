#include "engine/ZVActionCommandTrigger.h"

namespace zv::engine {
namespace {
const profile::ClassRegistration<ZVActionCommandTrigger> registration;
}  // namespace
}  // namespace zv::engine
