#include "profile/ZVProfile.h"

namespace zv::profile {
namespace {
const ClassRegistration<ZVProfile> registration;
}  // namespace
}  // namespace zv::profile
