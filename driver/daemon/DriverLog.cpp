#include "daemon/DriverLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace zv::driver {
namespace {

std::mutex gMutex;
DriverLogSink gSink;  // empty: syslog
std::atomic<bool> gDebug{false};

void writeToSyslog(int priority, const std::string& text) {
  std::string line = text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  syslog(priority, "%s", line.c_str());
}

}  // namespace

void openDriverLog(bool alsoStandardError) {
  openlog(kSyslogIdentifier, LOG_PID | (alsoStandardError ? LOG_PERROR : 0), LOG_DAEMON);
}

DriverLogSink setDriverLogSink(DriverLogSink sink) {
  std::lock_guard<std::mutex> lock(gMutex);
  DriverLogSink previous = std::move(gSink);
  gSink = std::move(sink);
  return previous;
}

void setDriverDebugLogging(bool enabled) {
  gDebug.store(enabled, std::memory_order_relaxed);
}

void driverLog(int priority, const char* format, ...) {
  if (priority == LOG_DEBUG && !gDebug.load(std::memory_order_relaxed)) return;
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::lock_guard<std::mutex> lock(gMutex);
  if (gSink) {
    gSink(priority, text);
  } else {
    writeToSyslog(priority, text);
  }
}

}  // namespace zv::driver
