// Feeds the simulated mouse from report-script lines (the zenvor-report-replay language)
// read from standard input or a FIFO while the daemon runs:
//
//   report HEX...        the mouse sends this input report (it takes the hidraw path)
//   wait MS              pause the script for MS real milliseconds
//   override ELEMENT 0|1, buttons MASK, precision ELEMENT PCT, axis ELEMENT 1|2, hat ELEMENT
//                        set what a client would set, straight on the report handler
//   model                print the report handler's elements
//   unplug               the mouse goes away (the daemon shuts down as on a real unplug)
//
// 'product' and 'descriptor' come from the command line. A wrong line is reported on
// standard error with its number and skipped: the daemon keeps running. At the end of a
// file or of standard input the mouse stays until the daemon is stopped; a FIFO is kept
// open, so one writer after another can feed it.
//
// Thread affinity: the loop's thread.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "daemon/EventLoop.h"
#include "daemon/ReportFeed.h"
#include "daemon/ZenvorDriver.h"

namespace zv::driver {

class SimulatedInput {
 public:
  // Writes one finished output line (without line feed).
  using LineWriter = std::function<void(const std::string& line)>;

  SimulatedInput(EventLoop& loop, ReportFeed& feed, ZenvorDriver& driver, LineWriter out);
  ~SimulatedInput();

  // Reads from `path` ("-" or empty: standard input). Answers false with *error when the
  // path cannot be opened.
  bool open(const std::string& path, std::string* error);

  // Runs one line now (also used by tests). Answers false with the message in *error.
  bool runLine(const std::string& line, std::string* error);

 private:
  void onReadable();
  void process();
  static bool isReportLine(const std::string& line);
  enum class SendResult { sent, full, failed };
  SendResult sendReportLine(const std::string& line, std::string* error);
  // Continues processing in a later loop round, once the driver had a chance to read.
  void deferUntilRead();

  EventLoop& loop_;
  ReportFeed& feed_;
  ZenvorDriver& driver_;
  LineWriter out_;
  int fd_ = -1;
  bool ownFd_ = false;
  bool watched_ = false;
  bool ended_ = false;
  std::string pending_;
  int lineNumber_ = 0;
  EventLoop::TimerId wait_ = 0;
  bool deferred_ = false;
  std::shared_ptr<bool> alive_;  // for posted continuations
};

}  // namespace zv::driver
