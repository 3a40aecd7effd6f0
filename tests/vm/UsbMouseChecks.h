// The demo mouse on a real USB bus (a gadget on dummy_hcd): the kernel's USB HID path
// (usbcore, usbhid) makes the same nodes as for any plugged-in mouse, outside the uhid
// parent, and its reports reach evdev and hidraw once the host polls them. This is the
// mouse the driver daemon's checks use, a real USB mouse as users have them; its
// latency is the baseline for theirs.
#pragma once

#include "GuestSession.h"

namespace zv::vmtest {

void addUsbMouseChecks(GuestSession& session);
// Pulls the USB mouse out; added separately so that it can come after the checks that use
// the mouse.
void addUsbUnplugCheck(GuestSession& session);

}  // namespace zv::vmtest
