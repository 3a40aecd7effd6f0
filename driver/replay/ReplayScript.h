// Runs a report script through a ReportPipeline with a manual reporter clock and prints
// what the system and user space would see. See `zenvor-report-replay --help` for the
// commands and the output lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ReportPipeline.h"

namespace zv::driver::replay {

class ReplayScript {
 public:
  explicit ReplayScript(std::ostream& out);
  ~ReplayScript();

  // Relative paths of 'descriptor-file' lines are taken from this folder (the script's own
  // folder when it came from a file); the current directory when not set.
  void setBaseFolder(std::string folder) { baseFolder_ = std::move(folder); }

  // Runs every line; stops at the first bad line and answers false with
  // "line N: message" in *error.
  bool run(std::istream& in, std::string* error);

  // One script line (comments and blank lines do nothing). On failure answers false with
  // the message (without the line number) in *error.
  bool runLine(const std::string& line, std::string* error);

 private:
  class Client;
  bool ensureDevice(std::string* error);
  void flush();
  void printModel();

  std::ostream& out_;
  std::string baseFolder_;
  std::optional<std::uint16_t> product_;
  std::vector<std::uint8_t> descriptor_;
  bool haveDescriptor_ = false;
  std::unique_ptr<Client> client_;
  std::unique_ptr<ReportPipeline> pipeline_;
  // Output lines made while a command runs (events, pointer reports), printed after it.
  std::vector<std::string> pending_;
  std::chrono::milliseconds now_{0};
};

}  // namespace zv::driver::replay
