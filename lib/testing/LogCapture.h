// Captures the log for one test: while it lives, every line at or above `threshold`
// (every line by default) comes here instead of standard error, and so do the system-log
// notices. The previous destination, threshold and notice handler come back afterwards.
//
// Lines may arrive from any thread (command threads log too); reading them is safe at any
// time.
#pragma once

#include <climits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "log/Log.h"

namespace zv::testing {

class LogCapture {
 public:
  struct Line {
    log::ZVLogLevel level;
    std::string file;
    int line;
    std::string object;
    std::string function;
    std::string message;
  };

  explicit LogCapture(std::optional<int> threshold = INT_MAX)
      : previousThreshold_(log::logThreshold()) {
    log::setLogThreshold(threshold);
    previousSink_ = log::setLogSink([this](const log::LogRecord& record) {
      std::lock_guard lock(mutex_);
      lines_.push_back({record.level, std::string(record.file), record.line,
                        std::string(record.object), std::string(record.function),
                        std::string(record.message)});
    });
    previousHandler_ = log::setSystemLogHandler([this](std::string_view message) {
      std::lock_guard lock(mutex_);
      notices_.emplace_back(message);
    });
  }
  ~LogCapture() {
    log::setLogThreshold(previousThreshold_);
    log::setLogSink(std::move(previousSink_));
    log::setSystemLogHandler(std::move(previousHandler_));
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Line> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // The lines' messages, in order.
  std::vector<std::string> messages() const {
    std::vector<std::string> texts;
    for (const Line& line : lines()) texts.push_back(line.message);
    return texts;
  }
  // Every message followed by a line feed, for failure output.
  std::string joined() const {
    std::string all;
    for (const std::string& message : messages()) all += message + "\n";
    return all;
  }
  // The system-log notices, in order.
  std::vector<std::string> notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }
  // Forgets the lines captured so far; the notices stay.
  void clearLines() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  std::optional<int> previousThreshold_;
  log::LogSink previousSink_;
  log::SystemLogHandler previousHandler_;
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
  std::vector<std::string> notices_;
};

}  // namespace zv::testing
