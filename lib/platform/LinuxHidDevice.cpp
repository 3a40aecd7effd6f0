#include "platform/LinuxHidDevice.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace zv::platform {

namespace {

// The largest report hidraw hands over (HID_MAX_BUFFER_SIZE).
constexpr std::size_t kMaxReport = 4096;

base::Failure systemFailure(const std::string& what, const std::string& path, int error) {
  base::Failure failure = base::Failure::system(error, what + " " + path);
  if (error == EACCES || error == EPERM) {
    failure.message +=
        " (give your user access to the mouse's hidraw node, see the README's "
        "\"Access to your devices\")";
  }
  return failure;
}

base::Failure notOpen(const std::string& path) {
  return base::Failure{base::kSystemDomain, EBADF, path + " is not open"};
}

}  // namespace

LinuxHidDevice::LinuxHidDevice(Info info, RunLoop& loop) : info_(std::move(info)), loop_(loop) {}

LinuxHidDevice::~LinuxHidDevice() {
  close();
}

HidProperty LinuxHidDevice::property(std::string_view key) const {
  if (key == kHidVendorIDKey) return std::int64_t{info_.id.vendor};
  if (key == kHidProductIDKey) return std::int64_t{info_.id.product};
  if (key == kHidTransportKey) return transportName(info_.id.bus);
  if (key == kHidProductKey && !info_.product.empty()) return info_.product;
  if (info_.usage && key == kHidPrimaryUsagePageKey) return std::int64_t{info_.usage->page};
  if (info_.usage && key == kHidPrimaryUsageKey) return std::int64_t{info_.usage->usage};
  return std::monostate{};
}

base::Result<void> LinuxHidDevice::open() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) return {};
  const int fd = ::open(info_.devnode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return systemFailure("cannot open", info_.devnode, errno);
  fd_ = fd;
  watch_ = loop_.watchFd(fd_, EPOLLIN, [this](std::uint32_t) { readReports(); });
  if (watch_ == 0) {
    ::close(fd_);
    fd_ = -1;
    return base::Failure{base::kSystemDomain, EBADF,
                         "cannot watch " + info_.devnode + " for reports"};
  }
  return {};
}

void LinuxHidDevice::close() {
  std::lock_guard lock(mutex_);
  if (watch_) loop_.unwatchFd(watch_);
  watch_ = 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool LinuxHidDevice::isOpen() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

void LinuxHidDevice::setInputReportHandler(InputReportHandler handler) {
  handler_ = std::move(handler);
}

void LinuxHidDevice::readReports() {
  std::array<std::uint8_t, kMaxReport> buffer;
  for (;;) {
    ssize_t count;
    {
      std::lock_guard lock(mutex_);
      if (fd_ < 0) return;
      count = ::read(fd_, buffer.data(), buffer.size());
    }
    if (count > 0) {
      // A copy: the handler may close the device or replace itself.
      InputReportHandler handler = handler_;
      if (handler) handler(std::span<const std::uint8_t>(buffer.data(), std::size_t(count)));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // End of file or an error: the device has gone and the manager reports its
    // removal. Stop watching so that the loop does not spin on the dead node.
    close();
    return;
  }
}

base::Result<void> LinuxHidDevice::setReport(HidReportType type, std::uint8_t reportId,
                                             std::span<const std::uint8_t> report) {
  // hidraw wants the report ID first, 0 for a device without numbered reports; the
  // bytes of a numbered report already begin with it.
  const std::size_t prefix = reportId == 0 ? 1 : 0;
  if (report.size() + prefix == 0 || report.size() + prefix > kMaxReport) {
    return base::Failure{
        base::kSystemDomain, EMSGSIZE,
        "report of " + std::to_string(report.size()) + " bytes not sent to " + info_.devnode};
  }
  std::vector<std::uint8_t> bytes(report.size() + prefix, 0);
  std::copy(report.begin(), report.end(), bytes.begin() + std::ptrdiff_t(prefix));
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return notOpen(info_.devnode);
  int result = -1;
  switch (type) {
    case HidReportType::Output:
      result = static_cast<int>(::write(fd_, bytes.data(), bytes.size()));
      break;
    case HidReportType::Feature:
      result = ::ioctl(fd_, HIDIOCSFEATURE(bytes.size()), bytes.data());
      break;
    case HidReportType::Input:
      result = ::ioctl(fd_, HIDIOCSINPUT(bytes.size()), bytes.data());
      break;
  }
  if (result < 0) return systemFailure("cannot send a report to", info_.devnode, errno);
  return {};
}

base::Result<std::size_t> LinuxHidDevice::getReport(HidReportType type, std::uint8_t reportId,
                                                    std::span<std::uint8_t> buffer) {
  // hidraw answers the report ID first, also the 0 of an unnumbered report, which the
  // caller does not get.
  std::vector<std::uint8_t> bytes(std::min(buffer.size() + 1, kMaxReport), 0);
  bytes[0] = reportId;
  int count = -1;
  {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return notOpen(info_.devnode);
    if (type == HidReportType::Feature) {
      count = ::ioctl(fd_, HIDIOCGFEATURE(bytes.size()), bytes.data());
    } else if (type == HidReportType::Input) {
      count = ::ioctl(fd_, HIDIOCGINPUT(bytes.size()), bytes.data());
    } else {
      count = ::ioctl(fd_, HIDIOCGOUTPUT(bytes.size()), bytes.data());
    }
  }
  if (count < 0) return systemFailure("cannot read a report from", info_.devnode, errno);
  const std::size_t got = std::min<std::size_t>(std::size_t(count), bytes.size());
  const std::size_t skip = reportId == 0 ? 1 : 0;
  if (got <= skip) return std::size_t{0};
  const std::size_t received = std::min(got - skip, buffer.size());
  std::copy_n(bytes.begin() + std::ptrdiff_t(skip), received, buffer.begin());
  return received;
}

}  // namespace zv::platform
