#include "RecordWorkspace.h"

namespace zv::agent {

bool RecordWorkspace::openFile(const std::string& path) {
  stream_->action("open " + path);
  return true;
}

bool RecordWorkspace::openFileWithApplication(const std::string& path,
                                              const std::string& applicationPath) {
  stream_->action("open " + path + " with " + applicationPath);
  return true;
}

}  // namespace zv::agent
