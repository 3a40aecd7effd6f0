#include "core/DebugLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace zv::driver {
namespace {

std::atomic<bool> gEnabled{false};

void writeToStandardError(const char* text) {
  std::fputs(text, stderr);
}

std::atomic<DebugLogSink> gSink{&writeToStandardError};

}  // namespace

void setDebugLogging(bool enabled) {
  gEnabled.store(enabled, std::memory_order_relaxed);
}

bool debugLoggingEnabled() {
  return gEnabled.load(std::memory_order_relaxed);
}

void setDebugLogSink(DebugLogSink sink) {
  gSink.store(sink ? sink : &writeToStandardError, std::memory_order_relaxed);
}

void debugLog(const char* format, ...) {
  if (!debugLoggingEnabled()) return;
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  gSink.load(std::memory_order_relaxed)(text);
}

void debugLogBytes(const std::uint8_t* bytes, std::size_t length) {
  if (!debugLoggingEnabled()) return;
  // One text per report, so a line-oriented sink (syslog) keeps it whole. Reports never
  // exceed 4096 bytes (the largest a descriptor may declare); "255 " is four characters.
  constexpr std::size_t kMaxBytes = 4096;
  char text[kMaxBytes * 4 + 2];  // on the stack: only ever used with logging on
  std::size_t used = 0;
  for (std::size_t i = 0; i < length && i < kMaxBytes; ++i) {
    used +=
        static_cast<std::size_t>(std::snprintf(text + used, sizeof text - used, "%d ", bytes[i]));
  }
  text[used++] = '\n';
  text[used] = '\0';
  gSink.load(std::memory_order_relaxed)(text);
}

}  // namespace zv::driver
