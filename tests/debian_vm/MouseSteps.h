// The steps with the mouse: udev starts its driver when it is plugged in, the user at the
// seat gets the agent and a button press becomes a key, only that user may talk to the
// driver, and many plug and unplug cycles leave no driver, no held key and no growth.
#pragma once

#include "SystemGuest.h"

namespace zv::vmtest {

// `between`, when given, adds steps that run after the agent started and before the cycles.
void addMouseSteps(SystemGuest& guest, void (*between)(SystemGuest&) = nullptr);

}  // namespace zv::vmtest
