// A hidraw node without a device: input reports are packets written to the "device end" of
// a SOCK_SEQPACKET socket pair, so the driver reads them exactly as from hidraw (one read,
// one report; readable for epoll). Closing the device end is an unplug. Feature reports are
// answered from a table; feature and output reports sent to the device are recorded.
//
// The simulated device of zenvor-driver and the tests use it.
//
// Thread safety: sendReport and unplug from any thread; the feature and output operations
// are safe on the driver's worker thread while the test thread inspects the records.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <vector>

#include "daemon/HidrawDevice.h"
#include "daemon/ReportFeed.h"

namespace zv::driver {

class FakeHidraw : public HidrawDevice, public ReportFeed {
 public:
  // Throws std::system_error when no socket pair can be made.
  FakeHidraw(HidDeviceIdentity identity, std::vector<std::uint8_t> descriptor);
  // Reads the reports from `reports`, a packet socket (SOCK_SEQPACKET or SOCK_DGRAM) whose
  // other end is fed by someone else, one report per packet; it is closed with the device.
  // The device's side below then has nothing to send to: sendReport answers false. The
  // feeder closing its end (or an empty packet) unplugs the mouse.
  FakeHidraw(HidDeviceIdentity identity, std::vector<std::uint8_t> descriptor, int reports);
  ~FakeHidraw() override;

  int fd() const override { return driverEnd_; }
  ssize_t readReport(std::span<std::uint8_t> buffer) override;
  const HidDeviceIdentity& identity() const override { return identity_; }
  const std::vector<std::uint8_t>& descriptor() const override { return descriptor_; }
  int getFeature(std::span<std::uint8_t> buffer) override;
  int setFeature(std::span<const std::uint8_t> data) override;
  int writeOutput(std::span<const std::uint8_t> data) override;

  // ---- The device's side ----

  // Sends one input report as the mouse would. Answers false once unplugged (or when the
  // driver's end is full).
  bool sendReport(std::span<const std::uint8_t> report);
  // ReportFeed.
  Send trySendReport(std::span<const std::uint8_t> report) override;
  void unplug() override;
  bool hasUnreadReports() const override;
  int deviceFd() const { return deviceEnd_; }

  // Feature report `id` answers `bytes` (the first byte being the ID, as hidraw gives it).
  void setFeatureReport(std::uint8_t id, std::vector<std::uint8_t> bytes);
  // Feature reports without an entry answer `length` bytes: the ID, then zeros (0: they
  // fail with -EPIPE, as a device that stalls the request).
  void setUnknownFeatureLength(std::size_t length);
  // Every feature request fails with -error from now on (0: answer again).
  void setFeatureError(int error);
  std::vector<std::vector<std::uint8_t>> featuresSet() const;
  std::vector<std::vector<std::uint8_t>> outputsWritten() const;
  int featureReads() const;

 private:
  HidDeviceIdentity identity_;
  std::vector<std::uint8_t> descriptor_;
  int driverEnd_ = -1;
  int deviceEnd_ = -1;
  mutable std::mutex mutex_;
  std::map<std::uint8_t, std::vector<std::uint8_t>> features_;
  int featureError_ = 0;
  std::size_t unknownFeatureLength_ = 0;
  int featureReads_ = 0;
  std::vector<std::vector<std::uint8_t>> featuresSet_;
  std::vector<std::vector<std::uint8_t>> outputs_;
};

}  // namespace zv::driver
