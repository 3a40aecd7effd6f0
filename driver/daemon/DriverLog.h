// The driver's log: load and unload messages, refused peers, dropped clients, device
// failures. It goes to syslog under the identifier "zenvor-driver" (journalctl -t
// zenvor-driver); the simulated device also copies it to standard error. Tests replace the
// sink to read what was logged.
//
// Thread-safe: the loop, the device worker and the mouse reporter thread all log.
#pragma once

#include <syslog.h>

#include <functional>
#include <string>

namespace zv::driver {

inline constexpr const char* kSyslogIdentifier = "zenvor-driver";

// priority: LOG_ERR, LOG_WARNING, LOG_NOTICE, LOG_INFO, LOG_DEBUG. text ends in a line feed
// as the message was written; the syslog sink drops it.
using DriverLogSink = std::function<void(int priority, const std::string& text)>;

// Opens syslog with the identifier; alsoStandardError copies each message to stderr.
void openDriverLog(bool alsoStandardError);
// Replaces the sink (nullptr: back to syslog). Answers the previous one.
DriverLogSink setDriverLogSink(DriverLogSink sink);
// Debug messages (LOG_DEBUG) are dropped unless enabled; off by default.
void setDriverDebugLogging(bool enabled);

void driverLog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace zv::driver
