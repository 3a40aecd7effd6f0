#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Umask.h"

namespace zv::platform {

namespace {

base::Failure refused(const std::filesystem::path& path, const std::string& reason) {
  return base::Failure{kAtomicFileDomain, kNotARegularTarget,
                       "cannot write " + path.string() + ": " + reason};
}

base::Failure failWith(const std::string& what, const std::filesystem::path& path, int code,
                       const std::string& more = {}) {
  base::Failure failure = base::Failure::system(code, what + " " + path.string());
  failure.message += more;
  return failure;
}

// Closes the descriptor and removes the temporary file unless released.
class TemporaryFile {
 public:
  TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }
  void release() { path_.clear(); }

 private:
  int fd_;
  std::string path_;
};

// Where the bytes go, and what the file there is now.
struct Target {
  std::filesystem::path path;
  bool exists = false;
  struct stat info {};
};

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a file of an unknown kind";
}

base::Result<void> resolveTarget(const std::filesystem::path& path, Target& target) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) {
    if (errno != ENOENT) return failWith("cannot write", path, errno);
    target.path = path;
    return {};
  }
  target.path = path;
  if (S_ISLNK(link.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
      if (errno == ENOENT) {
        return refused(path, "it is a symbolic link to nothing (its target is missing)");
      }
      return failWith("cannot write", path, errno);
    }
    target.path = resolved.get();
  }
  if (::stat(target.path.c_str(), &target.info) != 0) {
    return failWith("cannot write", path, errno);
  }
  if (!S_ISREG(target.info.st_mode)) {
    const std::string kind = kindOf(target.info.st_mode);
    return refused(path, S_ISLNK(link.st_mode) ? "it is a symbolic link to " + kind
                                               : "it is " + kind + ", not a regular file");
  }
  target.exists = true;
  return {};
}

// The folder is flushed too, so that the rename itself survives a crash.
void syncFolder(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

base::Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                       mode_t mode) {
  Target target;
  if (auto resolved = resolveTarget(path, target); !resolved) return resolved;

  std::string pattern = target.path.string() + ".XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return failWith("cannot create a temporary file beside", path, errno);
  TemporaryFile temporary(fd, pattern);

  if (target.exists && (target.info.st_uid != ::geteuid() || target.info.st_gid != ::getegid())) {
    if (::fchown(fd, target.info.st_uid, target.info.st_gid) != 0) {
      return failWith("cannot keep the owner and group of", path, errno,
                      " (it belongs to another user; the file was left as it is)");
    }
  }
  // After fchown(), which may clear the set-user-ID and set-group-ID bits.
  const mode_t finalMode =
      target.exists ? (target.info.st_mode & 07777) : (mode & 07777 & ~currentUmask());
  if (::fchmod(fd, finalMode) != 0) return failWith("cannot set the mode of", path, errno);

  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failWith("cannot write", path, errno);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return failWith("cannot flush", path, errno);
  if (temporary.close() != 0) return failWith("cannot close", path, errno);
  if (::rename(temporary.path().c_str(), target.path.c_str()) != 0) {
    return failWith("cannot replace", path, errno);
  }
  temporary.release();
  syncFolder(target.path);
  return {};
}

}  // namespace zv::platform
