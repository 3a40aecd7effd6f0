#include "platform/ReadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zv::platform {

namespace {

bool failWith(std::string* error, std::string_view name, std::string_view reason) {
  if (error) *error = "cannot read " + std::string(name) + ": " + std::string(reason);
  return false;
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
bool readToEnd(int fd, std::string_view name, std::string& bytes, std::size_t limit,
               std::size_t expected, std::string* error) {
  std::string data;
  data.reserve(expected < limit ? expected : limit);
  char buffer[65536];
  for (;;) {
    const std::size_t room = limit - data.size() + 1;
    const ssize_t n = ::read(fd, buffer, room < sizeof buffer ? room : sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failWith(error, name, std::strerror(errno));
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
    if (data.size() > limit) return failWith(error, name, tooLarge(limit));
  }
  bytes = std::move(data);
  return true;
}

}  // namespace

std::string describeSize(std::size_t bytes) {
  if (bytes >= (std::size_t{1} << 20) && bytes % (std::size_t{1} << 20) == 0) {
    return std::to_string(bytes >> 20) + " MiB";
  }
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

bool readFile(const std::filesystem::path& path, std::string& bytes, std::string* error,
              std::size_t limit) {
  const std::string name = path.string();
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0) return failWith(error, name, std::strerror(errno));
  if (!S_ISREG(before.st_mode)) return failWith(error, name, notRegular(before.st_mode));
  if (static_cast<std::uintmax_t>(before.st_size) > limit) {
    return failWith(error, name, tooLarge(limit));
  }
  // O_NONBLOCK: should a FIFO have taken the file's place since stat(), opening it must
  // not wait for a writer; fstat() below then refuses it.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return failWith(error, name, std::strerror(errno));
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0) return failWith(error, name, std::strerror(errno));
  if (!S_ISREG(opened.st_mode)) return failWith(error, name, notRegular(opened.st_mode));
  return readToEnd(fd.get(), name, bytes, limit, static_cast<std::size_t>(opened.st_size), error);
}

bool readAll(int fd, std::string_view name, std::string& bytes, std::size_t limit,
             std::string* error) {
  return readToEnd(fd, name, bytes, limit, 0, error);
}

}  // namespace zv::platform
