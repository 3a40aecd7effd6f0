// Reads a child process's output pipe line by line on the calling thread, for test
// helpers that watch what a program prints.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace zv::testing {

// Calls `onLine` with each complete line (without its newline) read from `fd` until end of
// file or a read error, then closes `fd`. A last line without a newline is dropped: the
// programs the tests watch end every line.
void readLines(int fd, const std::function<void(std::string line)>& onLine);

// The first line a program writes to `fd` once it is ready (a display number, a bus
// address), without its newline; empty when the pipe closes first or nothing complete
// comes within `patience` (a safety net). Closes `fd`.
std::string readFirstLine(int fd, std::chrono::milliseconds patience);

}  // namespace zv::testing
