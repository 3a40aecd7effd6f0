#include "HidrawNode.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Wait.h"

namespace zv::vmtest {

std::unique_ptr<HidrawNode> HidrawNode::open(const std::string& node, std::string* problem) {
  const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *problem = "cannot open " + node + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<HidrawNode>(new HidrawNode(fd));
}

HidrawNode::~HidrawNode() {
  ::close(fd_);
}

std::optional<std::vector<std::uint8_t>> HidrawNode::descriptor() const {
  int size = 0;
  if (::ioctl(fd_, HIDIOCGRDESCSIZE, &size) < 0 || size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    return std::nullopt;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<__u32>(size);
  if (::ioctl(fd_, HIDIOCGRDESC, &descriptor) < 0) return std::nullopt;
  return std::vector<std::uint8_t>(descriptor.value, descriptor.value + size);
}

std::optional<hidraw_devinfo> HidrawNode::info() const {
  hidraw_devinfo info{};
  if (::ioctl(fd_, HIDIOCGRAWINFO, &info) < 0) return std::nullopt;
  return info;
}

std::string HidrawNode::name() const {
  char text[256] = {};
  if (::ioctl(fd_, HIDIOCGRAWNAME(sizeof text - 1), text) < 0) return {};
  return text;
}

std::optional<std::vector<std::uint8_t>> HidrawNode::readReport(std::chrono::milliseconds bound,
                                                                std::string* problem) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    std::uint8_t buffer[4096];  // the largest report uhid or a USB device can carry
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got >= 0) return std::vector<std::uint8_t>(buffer, buffer + got);
    if (errno != EAGAIN && errno != EINTR) {
      *problem = std::string("read failed: ") + std::strerror(errno);
      return std::nullopt;
    }
    pollfd watch{fd_, POLLIN, 0};
    if (::poll(&watch, 1, millisecondsUntil(deadline)) == 0) {
      *problem = "no report within " + std::to_string(bound.count()) + " ms";
      return std::nullopt;
    }
  }
}

}  // namespace zv::vmtest
