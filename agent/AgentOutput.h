// Where the agent's keys, wheel steps and opened files go, chosen with --output:
//
//   uinput          the desktop: the virtual keyboard and pointer of /dev/uinput, made at
//                   start so that a missing permission is said at once (and once); the
//                   agent keeps running without them
//   record          a record of lines on standard output instead (RecordStream.h), also
//                   of the element events, shift states and profiles
//   record:FILE     the same into FILE
//   uinput+record[:FILE]   the desktop gets the keys, and the record is written too
//                   (files are opened for real then)
//
// Threads: set up on the main thread before any command runs.
#pragma once

#include <memory>
#include <string>

#include "RecordOutput.h"
#include "RecordStream.h"
#include "base/Result.h"

namespace zv::agent {

class AgentOutput {
 public:
  // Parses the choice and makes it the process's output (and, when recording, its
  // workspace). A choice it does not know, or a file it cannot record into, is a failure
  // with a message for the user.
  static base::Result<std::unique_ptr<AgentOutput>> install(const std::string& choice);
  ~AgentOutput();

  // The record; null for uinput alone.
  const std::shared_ptr<RecordStream>& record() const { return record_; }
  // When recording: lets go of keys still down, then writes the summary.
  void finish();

 private:
  AgentOutput() = default;
  std::shared_ptr<RecordStream> record_;
  std::shared_ptr<RecordOutput> recordOutput_;
};

}  // namespace zv::agent
