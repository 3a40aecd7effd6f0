#include "engine/ZVBand.h"

namespace zv::engine {
namespace {
const profile::ClassRegistration<ZVBand> registration;
}  // namespace
}  // namespace zv::engine
