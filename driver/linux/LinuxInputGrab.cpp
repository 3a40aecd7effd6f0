#include "linux/LinuxInputGrab.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zv::driver {

int LinuxInputGrab::grab(const std::vector<std::string>& nodes,
                         std::vector<std::string>* problems) {
  int held = 0;
  for (const std::string& node : nodes) {
    const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      problems->push_back("cannot open " + node + " to grab it: " + std::strerror(errno));
      continue;
    }
    if (ioctl(fd, EVIOCGRAB, 1) != 0) {
      problems->push_back("cannot grab " + node + ": " + std::strerror(errno) +
                          (errno == EBUSY ? " (another program holds it)" : ""));
      close(fd);
      continue;
    }
    fds_.push_back(fd);
    ++held;
  }
  return held;
}

void LinuxInputGrab::release() {
  for (int fd : fds_) {
    ioctl(fd, EVIOCGRAB, 0);
    close(fd);
  }
  fds_.clear();
}

}  // namespace zv::driver
