// A last resort for Ctrl-C and SIGTERM in a command-line program whose main loop watches
// them (RunLoop::watchSignals): should the loop be stuck in something that does not
// return (a read that blocks, a long computation), the signal would wait unseen for ever.
// A thread of its own looks at the pending signals; one that nobody has taken within
// `grace` ends the process with status 128 + the signal's number, after a line on
// standard error.
//
// Signals the program does not block keep their default action (the process ends at
// once); signals it takes in time are its own business.
#pragma once

#include <chrono>

namespace zv::platform {

// Starts the watching thread (once per process; later calls do nothing). Call it before
// any other thread starts, from the main thread.
void startInterruptDeadline(std::chrono::milliseconds grace = std::chrono::seconds(1));

}  // namespace zv::platform
