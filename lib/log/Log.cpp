#include "log/Log.h"

#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

namespace zv::log {
namespace {

// logThreshold() before KINETRA_LOG was read, and the log switched off.
constexpr int kNotRead = INT_MIN;
constexpr int kOff = INT_MIN + 1;
constexpr std::size_t kLongestMessage = 4096;

std::atomic<int>& thresholdSlot() {
  static std::atomic<int> threshold{kNotRead};
  return threshold;
}

std::mutex& handlerMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<const LogSink>& sinkSlot() {
  static std::shared_ptr<const LogSink> sink;
  return sink;
}

std::shared_ptr<const SystemLogHandler>& systemLogSlot() {
  static std::shared_ptr<const SystemLogHandler> handler;
  return handler;
}

std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

constexpr std::pair<const char*, int> kLevelNames[] = {
    {"fatal", 1}, {"critical", 2}, {"error", 3}, {"notice", 4}, {"info", 5}, {"debug", 6},
};

// "void zv::engine::ZVProfile::load(const std::string&)" → "zv::engine::ZVProfile::load".
std::string_view shortFunctionName(std::string_view function) {
  const std::size_t parenthesis = function.find('(');
  if (parenthesis != std::string_view::npos && parenthesis > 0) {
    function = function.substr(0, parenthesis);
  }
  const std::size_t blank = function.rfind(' ');
  if (blank != std::string_view::npos) function = function.substr(blank + 1);
  return function;
}

std::string_view fileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Control characters escaped, and at most kLongestMessage bytes of the message.
void appendSafely(std::string& out, std::string_view message) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(message[i]);
    if (count >= kLongestMessage && (c & 0xC0) != 0x80) {
      out += "... [" + std::to_string(message.size() - i) + " more bytes]";
      return;
    }
    ++count;
    if ((c < 0x20 && c != '\t') || c == 0x7F) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

void writeToStandardError(const LogRecord& record) {
  std::string line = program_invocation_short_name;
  line += "[" + std::to_string(::getpid()) + "] " + logLevelName(record.level) + ": ";
  if (!record.file.empty()) {
    line.append(fileName(record.file));
    line += ":" + std::to_string(record.line) + " ";
  }
  if (!record.function.empty()) {
    line.append(shortFunctionName(record.function));
    line.push_back(' ');
  }
  if (!record.object.empty()) {
    line.push_back('[');
    appendSafely(line, record.object.substr(0, 256));
    line += "] ";
  }
  if (line.back() == ' ') line.pop_back();
  line += ": ";
  std::string_view message = record.message;
  while (!message.empty() && message.back() == '\n') message.remove_suffix(1);
  appendSafely(line, message);
  line.push_back('\n');
  // One write per line, so that lines of two threads do not interleave.
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
}

void deliver(const LogRecord& record) {
  std::shared_ptr<const LogSink> sink;
  {
    std::lock_guard lock(handlerMutex());
    sink = sinkSlot();
  }
  if (sink) {
    (*sink)(record);
  } else {
    writeToStandardError(record);
  }
}

void writeToSyslog(std::string_view message) {
  static std::once_flag opened;
  std::call_once(opened, [] { ::openlog(program_invocation_short_name, LOG_PID, LOG_USER); });
  const std::string text(message);
  ::syslog(LOG_NOTICE, "%s", text.c_str());
}

}  // namespace

std::string logLevelName(ZVLogLevel level) {
  for (const auto& [name, value] : kLevelNames) {
    if (value == static_cast<int>(level)) return name;
  }
  return "level " + std::to_string(static_cast<int>(level));
}

LogSink setLogSink(LogSink sink) {
  std::shared_ptr<const LogSink> replacement;
  if (sink) replacement = std::make_shared<const LogSink>(std::move(sink));
  std::lock_guard lock(handlerMutex());
  std::shared_ptr<const LogSink> previous = std::exchange(sinkSlot(), std::move(replacement));
  return previous ? *previous : LogSink();
}

std::optional<int> parseLogThreshold(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  const std::string word = lowerCase(text);
  if (word == "off" || word == "none") return std::nullopt;
  if (word == "all") return INT_MAX;
  for (const auto& [name, value] : kLevelNames) {
    if (word == name) return value;
  }
  std::size_t at = word[0] == '-' || word[0] == '+' ? 1 : 0;
  if (at < word.size() && word.find_first_not_of("0123456789", at) == std::string::npos) {
    long long value = 0;
    for (; at < word.size(); ++at) {
      value = std::min<long long>(value * 10 + (word[at] - '0'), INT_MAX);
    }
    return static_cast<int>(word[0] == '-' ? -value : value);
  }
  // Someone asked for a log without saying how much: give them all of it.
  return INT_MAX;
}

std::optional<int> logThresholdFromEnvironment() {
  const char* value = std::getenv("KINETRA_LOG");
  return value ? parseLogThreshold(value) : std::nullopt;
}

std::optional<int> logThreshold() {
  int threshold = thresholdSlot().load(std::memory_order_relaxed);
  if (threshold == kNotRead) {
    const std::optional<int> fromEnvironment = logThresholdFromEnvironment();
    int expected = kNotRead;
    thresholdSlot().compare_exchange_strong(expected, fromEnvironment.value_or(kOff));
    threshold = thresholdSlot().load(std::memory_order_relaxed);
  }
  if (threshold == kOff) return std::nullopt;
  return threshold;
}

void setLogThreshold(std::optional<int> threshold) {
  int value = threshold.value_or(kOff);
  if (value == kNotRead || value == kOff) value = kOff;
  thresholdSlot().store(value, std::memory_order_relaxed);
}

bool isLogLevelEnabled(ZVLogLevel level) {
  const std::optional<int> threshold = logThreshold();
  return threshold && static_cast<int>(level) <= *threshold;
}

void writeLogLine(ZVLogLevel level, const char* file, int line, const LogArgument& object,
                  const char* function, std::string_view format,
                  std::span<const LogArgument> arguments) {
  if (!isLogLevelEnabled(level)) return;
  const std::string message = formatLogText(format, arguments);
  const std::string objectText = object.isNull() ? std::string() : object.text();
  deliver(LogRecord{level, file ? file : "", line, objectText, function ? function : "", message});
}

SystemLogHandler setSystemLogHandler(SystemLogHandler handler) {
  std::shared_ptr<const SystemLogHandler> replacement;
  if (handler) replacement = std::make_shared<const SystemLogHandler>(std::move(handler));
  std::lock_guard lock(handlerMutex());
  std::shared_ptr<const SystemLogHandler> previous =
      std::exchange(systemLogSlot(), std::move(replacement));
  return previous ? *previous : SystemLogHandler();
}

void writeSystemLogNotice(std::string_view message) {
  std::shared_ptr<const SystemLogHandler> handler;
  {
    std::lock_guard lock(handlerMutex());
    handler = systemLogSlot();
  }
  if (handler) {
    (*handler)(message);
  } else {
    writeToSyslog(message);
  }
  if (isLogLevelEnabled(ZVLogLevel::Notice)) {
    deliver(LogRecord{ZVLogLevel::Notice, "", 0, "", "", message});
  }
}

}  // namespace zv::log
