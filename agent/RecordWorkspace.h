// Where `perch --output record` sends the files and programs a profile opens: a line of
// the record ("open PATH", "open PATH with APP") instead of a started program.
//
// Threads: any (command threads open files).
#pragma once

#include <memory>

#include "RecordStream.h"
#include "output/Workspace.h"

namespace zv::agent {

class RecordWorkspace : public output::Workspace {
 public:
  explicit RecordWorkspace(std::shared_ptr<RecordStream> stream) : stream_(std::move(stream)) {}
  // Answer true: the opening is recorded.
  bool openFile(const std::string& path) override;
  bool openFileWithApplication(const std::string& path,
                               const std::string& applicationPath) override;

 private:
  std::shared_ptr<RecordStream> stream_;
};

}  // namespace zv::agent
