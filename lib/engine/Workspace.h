// Opening a path from a profile: a document opens in the application the desktop chooses
// for it, a program starts. The path is user text: it reaches the started program as one
// argument and never passes through a shell.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zv::engine {

class Workspace {
 public:
  virtual ~Workspace() = default;
  // Answers whether something was started for `path`. Returns without waiting for the
  // started program, which may run for as long as it likes.
  virtual bool openFile(const std::string& path) = 0;

  // The process-wide workspace: a DesktopWorkspace unless another was set.
  static std::shared_ptr<Workspace> shared();
  // nullptr restores the DesktopWorkspace.
  static void setShared(std::shared_ptr<Workspace> workspace);
};

// The desktop's way: an executable file is started itself, anything else (documents,
// folders, URLs) goes to the opener program, xdg-open by default.
class DesktopWorkspace : public Workspace {
 public:
  // `opener` is a path, or a name looked up in PATH.
  explicit DesktopWorkspace(std::string opener = "xdg-open");
  bool openFile(const std::string& path) override;

 private:
  std::string opener_;
};

// Keeps the paths it is asked to open; answers `answer`.
class RecordingWorkspace : public Workspace {
 public:
  explicit RecordingWorkspace(bool answer = true) : answer_(answer) {}
  bool openFile(const std::string& path) override;
  std::vector<std::string> paths() const;

 private:
  bool answer_;
  mutable std::mutex mutex_;
  std::vector<std::string> paths_;
};

// Starts `program` (a path) with `arguments` (argv[0] first) as a process of its own that
// this one never waits for: no shell, standard input from /dev/null, no inherited signal
// mask. Answers 0 once the program runs, else the errno of the failed start.
int spawnDetached(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace zv::engine
