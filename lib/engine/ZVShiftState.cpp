#include "engine/ZVShiftState.h"

namespace zv::engine {
namespace {
const profile::ClassRegistration<ZVShiftState> registration;
}  // namespace
}  // namespace zv::engine
