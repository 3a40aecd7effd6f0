// Mice the suite has no configuration for, on the real kernel: the gaming mouse of
// data/mice (mouse, keyboard, consumer and vendor collections behind report IDs, and a
// high-resolution wheel) on the USB gadget, driven by zenvor-driver started on it as the
// udev rule of an adopted mouse starts it; a Bluetooth LE mouse as BlueZ presents one
// (through uhid), driven the same way; and the daemon's own presented mouse, which no
// driver takes. They come after the demo mouse's USB checks, whose gadget they replace.
#pragma once

#include "GuestSession.h"

namespace zv::vmtest {

void addAnyMouseChecks(GuestSession& session);

}  // namespace zv::vmtest
