#include "engine/ZVActionBlock.h"

namespace zv::engine {
namespace {
const profile::ClassRegistration<ZVActionBlock> registration;
}  // namespace
}  // namespace zv::engine
