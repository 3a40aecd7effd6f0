#include "store/SharedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/ReadFile.h"
#include "support/PropertyList.h"

namespace zv::store {

namespace {

base::Failure describe(const std::filesystem::path& path, const std::string& what, int code) {
  return base::Failure{
      base::kSystemDomain, code,
      path.string() + ": " + what + (code ? std::string(": ") + std::strerror(code) : "")};
}

base::Failure notRegular(const std::filesystem::path& path) {
  return base::Failure{kSharedFileDomain, kNotARegularFile,
                       path.string() + ": not a regular file; left alone"};
}

// Opens a regular file (following links) for writing without ever blocking on what is
// not one.
base::Result<int> openRegular(const std::filesystem::path& path, int flags) {
  struct stat before {};
  if (::stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) return notRegular(path);
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return describe(path, "cannot open", errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return notRegular(path);
  }
  return fd;
}

enum class Look { Read, Missing, Failed };

// Through the library's one bounded reader: a regular file (links followed), never larger
// than a property list may be.
Look readAll(const std::filesystem::path& path, std::string& bytes, std::string& error) {
  base::Result<std::string> read = platform::readFile(path, support::kPropertyListFileLimit);
  if (read) {
    bytes = std::move(*read);
    return Look::Read;
  }
  if (read.failure().is(base::kSystemDomain, ENOENT)) return Look::Missing;
  error = read.failure().message;
  return Look::Failed;
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

base::Result<void> writeSharedFile(const std::filesystem::path& path, std::string_view bytes) {
  const base::Result<int> opened = openRegular(path, O_WRONLY | O_CREAT);
  if (!opened) return opened.failure();
  const int fd = *opened;
  if (::ftruncate(fd, 0) != 0) {
    const base::Failure failure = describe(path, "cannot empty", errno);
    ::close(fd);
    return failure;
  }
  // One write for the whole content; only a short write (a full disk, a signal) needs
  // more, and then the readers' second look covers the gap.
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const base::Failure failure = describe(path, "cannot write", n < 0 ? errno : ENOSPC);
      ::close(fd);
      return failure;
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) return describe(path, "cannot write", errno);
  return {};
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
