#include "platform/ReadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zv::platform {

namespace {

base::Failure systemFailure(int code, std::string_view name) {
  return base::Failure::system(code, "cannot read " + std::string(name));
}

base::Failure readFailure(ReadFileCode code, std::string_view name, std::string_view reason) {
  return base::Failure{kReadFileDomain, code,
                       "cannot read " + std::string(name) + ": " + std::string(reason)};
}

std::string notRegular(mode_t mode) {
  const char* kind = S_ISDIR(mode)    ? " (a folder)"
                     : S_ISFIFO(mode) ? " (a FIFO)"
                     : S_ISCHR(mode)  ? " (a character device)"
                     : S_ISBLK(mode)  ? " (a block device)"
                     : S_ISSOCK(mode) ? " (a socket)"
                                      : "";
  return std::string("not a regular file") + kind;
}

std::string tooLarge(std::size_t limit) {
  return "larger than " + describeSize(limit) + ", more than such a file can be";
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads to the end, at most `limit` bytes; one byte more means the input is too large.
base::Result<std::string> readToEnd(int fd, std::string_view name, std::size_t limit,
                                    std::size_t expected) {
  std::string data;
  data.reserve(expected < limit ? expected : limit);
  char buffer[65536];
  for (;;) {
    const std::size_t room = limit - data.size() + 1;
    const ssize_t n = ::read(fd, buffer, room < sizeof buffer ? room : sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return systemFailure(errno, name);
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
    if (data.size() > limit) return readFailure(kFileTooLarge, name, tooLarge(limit));
  }
  return data;
}

}  // namespace

std::string describeSize(std::size_t bytes) {
  if (bytes >= (std::size_t{1} << 20) && bytes % (std::size_t{1} << 20) == 0) {
    return std::to_string(bytes >> 20) + " MiB";
  }
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

base::Result<std::string> readFile(const std::filesystem::path& path, std::size_t limit,
                                   Links links) {
  const std::string name = path.string();
  struct stat before {};
  const int looked =
      links == Links::follow ? ::stat(path.c_str(), &before) : ::lstat(path.c_str(), &before);
  if (looked != 0) return systemFailure(errno, name);
  if (S_ISLNK(before.st_mode)) return systemFailure(ELOOP, name);
  if (!S_ISREG(before.st_mode)) {
    return readFailure(kNotARegularFile, name, notRegular(before.st_mode));
  }
  if (static_cast<std::uintmax_t>(before.st_size) > limit) {
    return readFailure(kFileTooLarge, name, tooLarge(limit));
  }
  // O_NONBLOCK: should a FIFO have taken the file's place since stat(), opening it must
  // not wait for a writer; fstat() below then refuses it.
  const int flags =
      O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (links == Links::refuse ? O_NOFOLLOW : 0);
  const Descriptor fd(::open(path.c_str(), flags));
  if (fd.get() < 0) return systemFailure(errno, name);
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0) return systemFailure(errno, name);
  if (!S_ISREG(opened.st_mode)) {
    return readFailure(kNotARegularFile, name, notRegular(opened.st_mode));
  }
  return readToEnd(fd.get(), name, limit, static_cast<std::size_t>(opened.st_size));
}

base::Result<std::string> readAll(int fd, std::string_view name, std::size_t limit) {
  return readToEnd(fd, name, limit, 0);
}

}  // namespace zv::platform
