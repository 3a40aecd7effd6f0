#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/Paths.h"

namespace zv::agent {

base::Result<std::unique_ptr<InstanceLock>> InstanceLock::acquire(const std::string& alias) {
  std::string name = alias;
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  const std::string path =
      (platform::runtimeFolder() / ("perch-" + std::to_string(::getuid()) + "-" + name + ".lock"))
          .string();
  // Never through a link: the runtime folder may be the shared /tmp.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return base::Failure::system(errno, path + ": cannot make the agent's lock file");
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    std::string holder;
    char text[32] = {};
    if (error == EWOULDBLOCK && ::pread(fd, text, sizeof text - 1, 0) > 0) {
      holder = std::string(text);
      while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
    }
    ::close(fd);
    if (error != EWOULDBLOCK) return base::Failure::system(error, path + ": cannot lock");
    return base::Failure{kInstanceLockDomain, kHeld,
                         "perch already runs for " + alias +
                             (holder.empty() ? std::string() : " (process " + holder + ")")};
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The pid is only for the message of a second instance.
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  ::close(fd_);
}

}  // namespace zv::agent
