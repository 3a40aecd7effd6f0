// The step with a mouse that is not one of the suite's products: a plain five-button USB
// mouse with a wheel, adopted with `kinetra adopt VVVV:PPPP` (udev then starts its driver),
// used, and released again with `kinetra release`, which leaves it as it was.
#pragma once

#include "SystemGuest.h"

namespace zv::vmtest {

void addAdoptStep(SystemGuest& guest);

}  // namespace zv::vmtest
