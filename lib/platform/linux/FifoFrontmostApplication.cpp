#include "platform/linux/FifoFrontmostApplication.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zv::platform {

base::Result<std::unique_ptr<FifoFrontmostApplication>> FifoFrontmostApplication::open(
    RunLoop& loop, const std::string& path) {
  const auto fail = [&](int code, const std::string& why) {
    return base::Failure{base::kSystemDomain, code, path + ": " + why};
  };
  const auto notFifo = [&] { return fail(EINVAL, "not a FIFO (make one with mkfifo)"); };
  // Looked at before it is opened: opening a device node may do something of its own.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return base::Failure::system(errno, path);
  if (!S_ISFIFO(status.st_mode)) return notFifo();
  // Read and write: the FIFO then never reports an end when a writer closes it, and opening
  // it does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return base::Failure::system(errno, path);
  if (::fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) {
    ::close(fd);
    return notFifo();
  }
  std::unique_ptr<FifoFrontmostApplication> provider(new FifoFrontmostApplication(loop, fd));
  provider->watch_ =
      loop.watchFd(fd, EPOLLIN, [p = provider.get()](std::uint32_t) { p->onReadable(); });
  if (!provider->watch_) return fail(EBADF, "cannot watch it");
  return provider;
}

FifoFrontmostApplication::~FifoFrontmostApplication() {
  if (watch_) loop_.unwatchFd(watch_);
  ::close(fd_);
}

void FifoFrontmostApplication::onReadable() {
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    // Drained (EAGAIN); with our own write end open there is no end of input.
    if (n <= 0) break;
    lines_.append(std::string_view(chunk, static_cast<std::size_t>(n)));
    // Lines are taken after every chunk, so a writer that never pauses cannot make the
    // buffer grow beyond one unfinished line.
    reportCompleteLines();
  }
}

void FifoFrontmostApplication::reportCompleteLines() {
  while (auto application = lines_.next()) {
    if (!application->executable.empty()) {
      std::error_code ec;
      const auto resolved = std::filesystem::weakly_canonical(application->executable, ec);
      if (!ec) application->executable = resolved;
    }
    report(*application);
  }
}

}  // namespace zv::platform
