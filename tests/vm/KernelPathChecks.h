// The checks of the kernel's own paths that everything else stands on: a mouse plugged in
// through uhid gets hidraw and evdev nodes, its reports come out there as they went in,
// evdev grabs are exclusive, the suite's virtual keyboard and pointer work through uinput,
// and unplugging removes it all. The latency checks measure the kernel's path alone, the
// baseline for what the driver daemon adds.
#pragma once

#include "GuestSession.h"

namespace zv::vmtest {

// Adds the checks, in the order they must run, to `session.checks`. They plug the physical
// mouse in first and leave it plugged in for the checks added after them; the unplug check
// is added separately so that it can come last.
void addKernelPathChecks(GuestSession& session);
void addUnplugCheck(GuestSession& session);

}  // namespace zv::vmtest
