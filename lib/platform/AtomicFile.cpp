#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zv::platform {

namespace {
bool failWith(std::string* error, const std::string& what, const std::filesystem::path& path,
              int code) {
  if (error) *error = what + " " + path.string() + ": " + std::strerror(code);
  return false;
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
}  // namespace

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error, mode_t mode) {
  std::string pattern = path.string() + ".XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return failWith(error, "cannot create a temporary file beside", path, errno);
  TemporaryFile temporary(fd, pattern);

  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  mode_t finalMode = exists ? (existing.st_mode & 07777) : mode;
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    finalMode &= ~mask;
  }
  if (::fchmod(fd, finalMode) != 0) return failWith(error, "cannot set the mode of", path, errno);

  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failWith(error, "cannot write", path, errno);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return failWith(error, "cannot flush", path, errno);
  if (temporary.close() != 0) return failWith(error, "cannot close", path, errno);
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return failWith(error, "cannot replace", path, errno);
  }
  temporary.release();
  return true;
}

bool readFile(const std::filesystem::path& path, std::string& bytes, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failWith(error, "cannot open", path, errno);
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      return failWith(error, "cannot read", path, code);
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  bytes = std::move(data);
  return true;
}

}  // namespace zv::platform
