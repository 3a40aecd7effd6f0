#include "output/Workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "output/Diagnostics.h"
#include "support/Bundle.h"

namespace zv::output {
namespace {

std::mutex& sharedMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<Workspace>& sharedSlot() {
  static std::shared_ptr<Workspace> workspace;
  return workspace;
}

// A program name as execvp would find it, resolved before fork() (where only
// async-signal-safe calls are allowed).
std::string findProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (folder.empty()) folder = ".";
    std::string candidate = folder + "/" + name;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return {};
}

bool isUrl(const std::string& text) {
  const std::size_t colon = text.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = text[i];
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.')) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::shared_ptr<Workspace> Workspace::shared() {
  std::lock_guard lock(sharedMutex());
  if (!sharedSlot()) sharedSlot() = std::make_shared<DesktopWorkspace>();
  return sharedSlot();
}

void Workspace::setShared(std::shared_ptr<Workspace> workspace) {
  std::lock_guard lock(sharedMutex());
  sharedSlot() = std::move(workspace);
}

bool Workspace::openFileWithApplication(const std::string&, const std::string&) {
  return false;
}

std::optional<std::string> applicationExecutable(const std::string& applicationPath,
                                                 std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<std::string> {
    if (error) *error = applicationPath + ": " + why;
    return std::nullopt;
  };
  struct stat info {};
  if (applicationPath.empty() || ::stat(applicationPath.c_str(), &info) != 0 ||
      !S_ISDIR(info.st_mode)) {
    return fail("no such application");
  }
  const support::Bundle bundle(applicationPath);
  const auto name = bundle.objectForInfoDictionaryKey("CFBundleExecutable");
  if (!name.isString() || name.asString().empty() || name.asString() == "." ||
      name.asString() == ".." || name.asString().find('/') != std::string::npos) {
    return fail("its Contents/Info.plist names no executable (CFBundleExecutable)");
  }
  const std::string executable =
      (bundle.bundlePath() / "Contents" / "Linux" / name.asString()).string();
  if (::stat(executable.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      ::access(executable.c_str(), X_OK) != 0) {
    return fail("its executable " + executable + " is missing or not executable");
  }
  return executable;
}

int spawnDetached(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return error;
  }
  if (child == 0) {
    // The intermediate child forks the program and leaves at once, so the program is
    // adopted by init and never becomes a zombie of this process.
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        const int error = errno;
        (void)!::write(report[1], &error, sizeof error);
      }
      ::_exit(0);
    }
    ::setsid();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaults, nullptr);
    ::sigaction(SIGCHLD, &defaults, nullptr);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) {
      ::dup2(null, STDIN_FILENO);
      if (null != STDIN_FILENO) ::close(null);
    }
    ::execv(program.c_str(), argv.data());
    // Only reached when exec failed: tell the parent why (the pipe closes on success).
    const int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

DesktopWorkspace::DesktopWorkspace(std::string opener) : opener_(std::move(opener)) {}

bool DesktopWorkspace::openFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::string argument = path;
  if (!isUrl(path)) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      say("cannot open " + path + ": " + std::strerror(errno));
      return false;
    }
    // A relative path that starts with '-' would read as an option.
    if (argument[0] == '-') argument.insert(0, "./");
    if (S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0) {
      const int error = spawnDetached(argument, {argument});
      if (error == 0) return true;
      // Not a program after all (a document on a file system that marks every file
      // executable): let the opener choose its application.
      if (error != ENOEXEC && error != EACCES) {
        say("cannot start " + path + ": " + std::strerror(error));
        return false;
      }
    }
  }
  const std::string opener = findProgram(opener_);
  if (opener.empty()) {
    say("cannot open " + path + ": " + opener_ +
        " is not installed (it comes with the xdg-utils package)");
    return false;
  }
  const int error = spawnDetached(opener, {opener_, argument});
  if (error != 0) {
    say("cannot open " + path + " with " + opener + ": " + std::strerror(error));
    return false;
  }
  return true;
}

bool DesktopWorkspace::openFileWithApplication(const std::string& path,
                                               const std::string& applicationPath) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::string error;
  const std::optional<std::string> executable = applicationExecutable(applicationPath, &error);
  if (!executable) {
    say("cannot open " + path + ": " + error);
    return false;
  }
  std::string argument = path;
  // A relative path that starts with '-' would read as an option.
  if (argument[0] == '-') argument.insert(0, "./");
  const int failure = spawnDetached(*executable, {*executable, argument});
  if (failure != 0) {
    say("cannot open " + path + " with " + *executable + ": " + std::strerror(failure));
    return false;
  }
  return true;
}

bool RecordingWorkspace::openFileWithApplication(const std::string& path,
                                                 const std::string& applicationPath) {
  std::lock_guard lock(mutex_);
  openedWithApplications_.push_back({path, applicationPath});
  return answer_;
}

std::vector<RecordingWorkspace::OpenedWithApplication> RecordingWorkspace::openedWithApplications()
    const {
  std::lock_guard lock(mutex_);
  return openedWithApplications_;
}

bool RecordingWorkspace::openFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  paths_.push_back(path);
  return answer_;
}

std::vector<std::string> RecordingWorkspace::paths() const {
  std::lock_guard lock(mutex_);
  return paths_;
}

}  // namespace zv::output
