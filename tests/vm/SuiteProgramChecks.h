// Checks that the suite's own programs run in the guest: each one the host put in starts
// and answers --help, so its shared libraries and their loader came along.
#pragma once

#include "GuestSession.h"

namespace zv::vmtest {

// Adds nothing when this build has none of the programs.
void addSuiteProgramChecks(GuestSession& session);

}  // namespace zv::vmtest
