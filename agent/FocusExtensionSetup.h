// At the agent's start in a GNOME session: the first time, the GNOME Shell focus
// extension (installed system-wide by the package) is enabled for the user, so that
// profiles linked to applications work without a step of the user's. A user who later
// disables it (`kinetra desktop disable`, or the Extensions application after `kinetra
// desktop enable`) keeps it disabled: the mark of GnomeShellExtensions.h says it was done.
//
// Threads: the main thread; waits (briefly) for GNOME Shell's answers.
#pragma once

namespace zv::agent {

// Does nothing outside GNOME or once the mark exists. Says in the log what it did, or
// why it could not (then it tries again at the next start).
void enableFocusExtensionOnFirstStart();

}  // namespace zv::agent
