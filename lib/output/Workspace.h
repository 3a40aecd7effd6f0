// Opening a path from a profile: a document opens in the application the desktop chooses
// for it, a program starts. The path is user text: it reaches the started program as one
// argument and never passes through a shell.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zv::output {

class Workspace {
 public:
  virtual ~Workspace() = default;
  // Answers whether something was started for `path`. Returns without waiting for the
  // started program, which may run for as long as it likes.
  virtual bool openFile(const std::string& path) = 0;
  // Opens `path` with the application folder `applicationPath` ("<Name>.app"): its
  // executable (applicationExecutable) starts with the path as its one argument. Answers
  // whether it started. A workspace that cannot start applications answers false.
  virtual bool openFileWithApplication(const std::string& path, const std::string& applicationPath);

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
  bool openFileWithApplication(const std::string& path,
                               const std::string& applicationPath) override;

 private:
  std::string opener_;
};

// Keeps the paths it is asked to open; answers `answer`.
class RecordingWorkspace : public Workspace {
 public:
  explicit RecordingWorkspace(bool answer = true) : answer_(answer) {}
  bool openFile(const std::string& path) override;
  std::vector<std::string> paths() const;

  struct OpenedWithApplication {
    std::string path;
    std::string applicationPath;
    bool operator==(const OpenedWithApplication&) const = default;
  };
  bool openFileWithApplication(const std::string& path,
                               const std::string& applicationPath) override;
  std::vector<OpenedWithApplication> openedWithApplications() const;

 private:
  bool answer_;
  mutable std::mutex mutex_;
  std::vector<std::string> paths_;
  std::vector<OpenedWithApplication> openedWithApplications_;
};

// Starts `program` (a path) with `arguments` (argv[0] first) as a process of its own that
// this one never waits for: no shell, standard input from /dev/null, no inherited signal
// mask. Answers 0 once the program runs, else the errno of the failed start.
int spawnDetached(const std::string& program, const std::vector<std::string>& arguments);

// The executable of an application folder: "<app>/Contents/Linux/<CFBundleExecutable>"
// from its Info.plist, when that is a plain file name and the file is an executable
// regular file; else none, with `error` saying what is wrong.
std::optional<std::string> applicationExecutable(const std::string& applicationPath,
                                                 std::string* error = nullptr);

}  // namespace zv::output
