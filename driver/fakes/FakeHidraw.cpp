#include "fakes/FakeHidraw.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace zv::driver {

FakeHidraw::FakeHidraw(HidDeviceIdentity identity, std::vector<std::uint8_t> descriptor)
    : identity_(std::move(identity)), descriptor_(std::move(descriptor)) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    throw std::system_error(errno, std::generic_category(), "socketpair");
  }
  driverEnd_ = ends[0];
  deviceEnd_ = ends[1];
}

FakeHidraw::FakeHidraw(HidDeviceIdentity identity, std::vector<std::uint8_t> descriptor,
                       int reports)
    : identity_(std::move(identity)), descriptor_(std::move(descriptor)), driverEnd_(reports) {}

FakeHidraw::~FakeHidraw() {
  close(driverEnd_);
  unplug();
}

ssize_t FakeHidraw::readReport(std::span<std::uint8_t> buffer) {
  const ssize_t n = recv(driverEnd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
  if (n > 0) return n;
  if (n == 0) return -ENODEV;  // the device end is closed
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return -errno;
}

bool FakeHidraw::sendReport(std::span<const std::uint8_t> report) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (deviceEnd_ < 0) return false;
  return send(deviceEnd_, report.data(), report.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(report.size());
}

FakeHidraw::Send FakeHidraw::trySendReport(std::span<const std::uint8_t> report) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (deviceEnd_ < 0) return Send::unplugged;
  const ssize_t n = send(deviceEnd_, report.data(), report.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n == static_cast<ssize_t>(report.size())) return Send::sent;
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? Send::full : Send::unplugged;
}

bool FakeHidraw::hasUnreadReports() const {
  int bytes = 0;
  if (ioctl(driverEnd_, SIOCINQ, &bytes) != 0) return false;
  return bytes > 0;
}

void FakeHidraw::unplug() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (deviceEnd_ >= 0) close(deviceEnd_);
  deviceEnd_ = -1;
}

void FakeHidraw::setFeatureReport(std::uint8_t id, std::vector<std::uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  features_[id] = std::move(bytes);
}

void FakeHidraw::setUnknownFeatureLength(std::size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  unknownFeatureLength_ = length;
}

void FakeHidraw::setFeatureError(int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  featureError_ = error;
}

int FakeHidraw::getFeature(std::span<std::uint8_t> buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++featureReads_;
  if (deviceEnd_ < 0) return -ENODEV;
  if (featureError_) return -featureError_;
  if (buffer.empty()) return -EINVAL;
  const auto found = features_.find(buffer[0]);
  if (found == features_.end()) {
    if (unknownFeatureLength_ == 0) return -EPIPE;  // what a device stalling the request gives
    const std::size_t n = std::min(buffer.size(), unknownFeatureLength_);
    std::fill(buffer.begin() + 1, buffer.begin() + static_cast<std::ptrdiff_t>(n), 0);
    return static_cast<int>(n);
  }
  const std::size_t n = std::min(buffer.size(), found->second.size());
  std::copy_n(found->second.begin(), n, buffer.begin());
  return static_cast<int>(n);
}

int FakeHidraw::setFeature(std::span<const std::uint8_t> data) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (deviceEnd_ < 0) return -ENODEV;
  if (featureError_) return -featureError_;
  featuresSet_.emplace_back(data.begin(), data.end());
  return static_cast<int>(data.size());
}

int FakeHidraw::writeOutput(std::span<const std::uint8_t> data) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (deviceEnd_ < 0) return -ENODEV;
  outputs_.emplace_back(data.begin(), data.end());
  return static_cast<int>(data.size());
}

std::vector<std::vector<std::uint8_t>> FakeHidraw::featuresSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return featuresSet_;
}

std::vector<std::vector<std::uint8_t>> FakeHidraw::outputsWritten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputs_;
}

int FakeHidraw::featureReads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return featureReads_;
}

}  // namespace zv::driver
