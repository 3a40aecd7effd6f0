// Diagnostics of the report path. Everything here is off unless debug logging is turned on:
// with it off, a call costs one relaxed atomic load and does no formatting and no I/O, so it
// may sit on the per-report path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv::driver {

// Receives one finished log text (it ends in a line feed). Called on whichever thread logs
// (the report path or the mouse reporter thread), so it must be thread-safe.
using DebugLogSink = void (*)(const char* text);

// Off by default. Safe to flip from any thread.
void setDebugLogging(bool enabled);
bool debugLoggingEnabled();

// Replaces where log texts go (standard error by default); nullptr restores the default.
void setDebugLogSink(DebugLogSink sink);

// printf-style; texts longer than 1 KiB are cut.
void debugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes each byte in decimal followed by a blank, then a line feed: "1 0 255 \n".
void debugLogBytes(const std::uint8_t* bytes, std::size_t length);

}  // namespace zv::driver
