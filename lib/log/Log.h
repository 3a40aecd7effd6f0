// The device library's log, and the notices it sends to the system log.
//
// ZVLogLine takes a level, the source position, the object on whose behalf the line is
// written and a printf-style format with "%@" for any value (LogFormat.h); call it through
// ZV_LOG, which fills in the file, the line and the function:
//
//   ZV_LOG(ZVLogLevel::Error, this, "Failed to load profile: %@ for device %@", text, name);
//
// Lines go nowhere unless the environment variable KINETRA_LOG is set: its value is the
// threshold, and lines of that level or a more severe one (a smaller number) are written
// to standard error, one write per line. KINETRA_LOG takes a number (KINETRA_LOG=4) or a
// level name (fatal, critical, error, notice, info, debug, all; off or none for nothing);
// any other non-empty value lets every line through. A line below the threshold costs one
// atomic load: its arguments are not formatted.
//
// Lines on standard error read "<program>[<pid>] <level>: <file>:<line> <function>
// [<object>]: <message>"; control characters of the message are escaped (\xNN) so that a
// line stays one line and cannot drive the terminal, and a message is cut after 4096 bytes.
//
// The notices that must be seen whatever KINETRA_LOG says (a profile loaded from a file,
// the application-linked switcher changing application) go to the system log through
// systemLogNotice; when KINETRA_LOG lets notices through they are also written to the log.
//
// Everything here is safe to call from any thread.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "log/LogFormat.h"

namespace zv::log {

// A smaller number is more severe. The library logs a damaged profile at Error (3) and
// profile-loading notices at Notice (4).
enum class ZVLogLevel : int {
  Fatal = 1,
  Critical = 2,
  Error = 3,
  Notice = 4,
  Info = 5,
  Debug = 6,
};

// Its name as written in a line and accepted by KINETRA_LOG ("error"); "level N" for
// other numbers.
std::string logLevelName(ZVLogLevel level);

// One line as it reaches the destination. The views are valid during the call only.
struct LogRecord {
  ZVLogLevel level;
  std::string_view file;      // as __FILE__ gives it; empty for a system-log notice
  int line;                   // 0 for a system-log notice
  std::string_view object;    // the object's text (LogFormat.h); empty when there is none
  std::string_view function;  // as __PRETTY_FUNCTION__ gives it
  std::string_view message;   // formatted, as it is
};

using LogSink = std::function<void(const LogRecord& record)>;

// Replaces the destination of lines that pass the threshold; an empty sink restores
// standard error. Answers the sink that was set before. Sinks may be called from any
// thread, one line at a time.
LogSink setLogSink(LogSink sink);

// The threshold KINETRA_LOG gives (read at each call of this function); none when unset,
// empty, "off" or "none".
std::optional<int> logThresholdFromEnvironment();
std::optional<int> parseLogThreshold(std::string_view text);
// The threshold in force: KINETRA_LOG as it was at the first line logged, unless set here.
// A program option (--verbose) or a test sets it; none turns the log off.
std::optional<int> logThreshold();
void setLogThreshold(std::optional<int> threshold);
bool isLogLevelEnabled(ZVLogLevel level);

// The line with its arguments already converted; ZVLogLine and ZV_LOG call it.
void writeLogLine(ZVLogLevel level, const char* file, int line, const LogArgument& object,
                  const char* function, std::string_view format,
                  std::span<const LogArgument> arguments);

// `object` is any value LogArgument takes: nullptr for none, `this` of an object that has
// description(), a name.
template <typename Object, typename... Arguments>
void ZVLogLine(ZVLogLevel level, const char* file, int line, const Object& object,
               const char* function, std::string_view format, const Arguments&... arguments) {
  if (!isLogLevelEnabled(level)) return;
  const std::array<LogArgument, sizeof...(Arguments)> converted{LogArgument(arguments)...};
  writeLogLine(level, file, line, LogArgument(object), function, format, converted);
}

#define ZV_LOG(level, object, ...) \
  ::zv::log::ZVLogLine((level), __FILE__, __LINE__, (object), __PRETTY_FUNCTION__, __VA_ARGS__)

// The system log: syslog at LOG_NOTICE, with the program's name as identifier (opened
// once per process, with the process id). Tests set a handler to capture notices instead;
// an empty handler restores syslog. Answers the handler that was set before.
using SystemLogHandler = std::function<void(std::string_view message)>;
SystemLogHandler setSystemLogHandler(SystemLogHandler handler);
void writeSystemLogNotice(std::string_view message);

// "Loading profile at: %@", "switched APP!\n": formatted like a log line, then sent.
template <typename... Arguments>
void systemLogNotice(std::string_view format, const Arguments&... arguments) {
  writeSystemLogNotice(formatLog(format, arguments...));
}

}  // namespace zv::log
