#include "store/SharedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "support/PropertyList.h"

namespace zv::store {

namespace {

std::string describe(const std::filesystem::path& path, const std::string& what, int code) {
  return path.string() + ": " + what + (code ? std::string(": ") + std::strerror(code) : "");
}

// Opens a regular file (following links) without ever blocking on what is not one.
int openRegular(const std::filesystem::path& path, int flags, std::string* error) {
  struct stat before {};
  if (::stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) {
    if (error) *error = describe(path, "not a regular file; left alone", 0);
    errno = EINVAL;
    return -1;
  }
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) {
    if (error) *error = describe(path, "cannot open", errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = describe(path, "not a regular file; left alone", 0);
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

enum class Look { Read, Missing, Failed };

Look readAll(const std::filesystem::path& path, std::string& bytes, std::string& error) {
  const int fd = openRegular(path, O_RDONLY, &error);
  if (fd < 0) return errno == ENOENT ? Look::Missing : Look::Failed;
  bytes.clear();
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int code = errno;
    ::close(fd);
    if (n < 0) {
      error = describe(path, "cannot read", code);
      return Look::Failed;
    }
    return Look::Read;
  }
}

SharedDictionary interpret(const std::filesystem::path& path, Look look, const std::string& bytes,
                           const std::string& readError) {
  SharedDictionary result;
  if (look == Look::Missing) return result;
  if (look == Look::Failed) {
    result.state = SharedDictionary::State::Damaged;
    result.error = readError;
    return result;
  }
  if (bytes.empty()) {
    result.state = SharedDictionary::State::Empty;
    return result;
  }
  std::string error;
  const auto value = support::readPropertyList(bytes, &error);
  if (value && value->isDictionary()) {
    result.state = SharedDictionary::State::Dictionary;
    result.dictionary = value->asDictionary();
    return result;
  }
  result.state = SharedDictionary::State::Damaged;
  result.error = path.string() + ": " + (value ? "the property list is not a dictionary" : error);
  return result;
}

}  // namespace

void sleepPause(std::chrono::milliseconds time) {
  std::this_thread::sleep_for(time);
}

bool writeSharedFile(const std::filesystem::path& path, std::string_view bytes,
                     std::string* error) {
  const int fd = openRegular(path, O_WRONLY | O_CREAT, error);
  if (fd < 0) return false;
  if (::ftruncate(fd, 0) != 0) {
    if (error) *error = describe(path, "cannot empty", errno);
    ::close(fd);
    return false;
  }
  // One write for the whole content; only a short write (a full disk, a signal) needs
  // more, and then the readers' second look covers the gap.
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (error) *error = describe(path, "cannot write", n < 0 ? errno : ENOSPC);
      ::close(fd);
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    if (error) *error = describe(path, "cannot write", errno);
    return false;
  }
  return true;
}

SharedDictionary readSharedDictionary(const std::filesystem::path& path, const Pause& pause) {
  std::string bytes;
  std::string error;
  Look look = readAll(path, bytes, error);
  SharedDictionary result = interpret(path, look, bytes, error);
  const bool suspect = result.state == SharedDictionary::State::Empty ||
                       (result.state == SharedDictionary::State::Damaged && look == Look::Read);
  if (!suspect) return result;
  if (pause) pause(kSharedFileRetryPause);
  error.clear();
  look = readAll(path, bytes, error);
  return interpret(path, look, bytes, error);
}

}  // namespace zv::store
