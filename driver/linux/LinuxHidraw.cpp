#include "linux/LinuxHidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zv::driver {
namespace {

std::string ioctlText(int fd, unsigned long request) {
  char text[256] = {};
  if (ioctl(fd, request, text) < 0) return {};
  text[sizeof text - 1] = '\0';
  return text;
}

}  // namespace

std::unique_ptr<LinuxHidraw> LinuxHidraw::open(const std::string& path, std::uint32_t version,
                                               std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno) +
             (errno == EACCES ? " (run as root, or install the driver's udev rule)" : "");
    return nullptr;
  }
  std::unique_ptr<LinuxHidraw> device(new LinuxHidraw(fd));
  hidraw_devinfo info{};
  int size = 0;
  if (ioctl(fd, HIDIOCGRAWINFO, &info) < 0 || ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size < 0 ||
      size > HID_MAX_DESCRIPTOR_SIZE) {
    *error = path + " is not a hidraw node: " + std::strerror(errno);
    return nullptr;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<__u32>(size);
  if (ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
    *error = "cannot read the report descriptor of " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  device->descriptor_.assign(descriptor.value, descriptor.value + size);
  HidDeviceIdentity& id = device->identity_;
  id.bus = static_cast<std::uint16_t>(info.bustype);
  id.vendor = static_cast<std::uint16_t>(info.vendor);
  id.product = static_cast<std::uint16_t>(info.product);
  id.version = version;
  id.name = ioctlText(fd, HIDIOCGRAWNAME(256));
  id.phys = ioctlText(fd, HIDIOCGRAWPHYS(256));
  id.uniq = ioctlText(fd, HIDIOCGRAWUNIQ(256));
  return device;
}

LinuxHidraw::~LinuxHidraw() {
  close(fd_);
}

ssize_t LinuxHidraw::readReport(std::span<std::uint8_t> buffer) {
  const ssize_t n = read(fd_, buffer.data(), buffer.size());
  if (n > 0) return n;
  if (n == 0) return -ENODEV;
  if (errno == EAGAIN || errno == EINTR) return 0;
  return -errno;
}

int LinuxHidraw::getFeature(std::span<std::uint8_t> buffer) {
  const int n = ioctl(fd_, HIDIOCGFEATURE(buffer.size()), buffer.data());
  return n < 0 ? -errno : n;
}

int LinuxHidraw::setFeature(std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> copy(data.begin(), data.end());  // the ioctl wants it writable
  const int n = ioctl(fd_, HIDIOCSFEATURE(copy.size()), copy.data());
  return n < 0 ? -errno : n;
}

int LinuxHidraw::writeOutput(std::span<const std::uint8_t> data) {
  // The node is non-blocking for reads; an output report may wait for the device, which is
  // fine on the worker thread, so retry a full queue briefly rather than drop the report.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const ssize_t n = write(fd_, data.data(), data.size());
    if (n >= 0) return static_cast<int>(n);
    if (errno != EAGAIN && errno != EINTR) return -errno;
    usleep(1000);
  }
  return -EAGAIN;
}

}  // namespace zv::driver
