// The tray agent on a real kernel. zenvor-driver serves the USB mouse and `perch
// --headless` runs the demo mouse's default profile with its desktop output, the virtual
// keyboard and pointer of /dev/uinput, in a private folder tree of the guest's tmpfs. A
// press of a button the profile reprograms (button 4: Page Down) becomes the key on the
// agent's virtual keyboard and never reaches the presented mouse; pulling the mouse out
// while the button is held leaves no key down; SIGTERM ends the agent cleanly. The time
// from the physical press to the key on evdev is measured.
#pragma once

#include "GuestSession.h"

namespace zv::vmtest {

// Adds nothing when the guest has no perch or no zenvor-driver.
void addAgentChecks(GuestSession& session);

}  // namespace zv::vmtest
