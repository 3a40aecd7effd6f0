// The driver daemon on a real kernel. zenvor-driver takes the USB mouse by its hidraw node,
// grabs its evdev nodes and presents the rewritten mouse through uhid; the presented mouse
// moves and clicks like the original; what clients set through the daemon's socket
// (overridden buttons, precision aim, forced buttons) shows on it, and overridden buttons
// reach the clients as element events; a SIGKILL of the daemon gives the plain mouse back
// at once, and pulling the mouse out ends the daemon cleanly. The socket is driven with
// `kinetra driver`, as a user would.
//
// The USB mouse, not the uhid one: the daemon leaves devices under the uhid parent alone,
// since those are what daemons present.
#pragma once

#include "GuestSession.h"

namespace zv::vmtest {

// Adds nothing when the guest has no zenvor-driver or no kinetra.
void addDriverChecks(GuestSession& session);

}  // namespace zv::vmtest
