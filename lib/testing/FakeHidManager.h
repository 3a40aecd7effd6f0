// A fake HID system for tests: devices that a test plugs in and pulls out, seen by every
// HID manager the process makes while the system is installed.
//
//   testing::FakeHidSystem hid;                      // createHidManager() now makes fakes
//   auto mouse = hid.plug(FakeHidDevice::make(0x5A56, 0x1704));
//   loop.runUntil(...);                              // managers report it from the loop
//   mouse->sendInputReport({1, 0, 0});
//   hid.unplug(mouse);
//
// Like the Linux manager, a manager reports devices from its run loop, never from inside
// scheduleWithRunLoop(), plug() or unplug(). Everything here belongs to the test's thread
// except setReport()/getReport() and sentReports(), which are safe from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/HidManager.h"
#include "platform/RunLoop.h"

namespace zv::testing {

class FakeHidDevice : public platform::HidDevice {
 public:
  struct SentReport {
    platform::HidReportType type;
    std::uint8_t reportId;
    std::vector<std::uint8_t> bytes;
    bool operator==(const SentReport&) const = default;
  };

  explicit FakeHidDevice(std::string path) : path_(std::move(path)) {}
  // A device with vendor, product and primary usage (Generic Desktop page, `usage`:
  // 2 mouse, 5 game pad, 6 keyboard) under a path of its own.
  static std::shared_ptr<FakeHidDevice> make(std::uint32_t vendor, std::uint32_t product,
                                             std::uint16_t usage = 2);

  void setProperty(std::string key, platform::HidProperty value);
  // open() fails with this message (empty: open() succeeds).
  void setOpenError(std::string message) { openError_ = std::move(message); }
  // What getReport() of a feature answers for `reportId` (the bytes as hidraw gives
  // them: a numbered report begins with its ID).
  void setFeatureReport(std::uint8_t reportId, std::vector<std::uint8_t> bytes);
  // Hands a report to the input handler at once, when the device is open.
  void sendInputReport(const std::vector<std::uint8_t>& report);

  std::vector<SentReport> sentReports() const;
  int openCount() const { return openCount_; }

  platform::HidProperty property(std::string_view key) const override;
  std::string path() const override { return path_; }
  base::Result<void> open() override;
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }
  void setInputReportHandler(InputReportHandler handler) override { handler_ = std::move(handler); }
  base::Result<void> setReport(platform::HidReportType type, std::uint8_t reportId,
                               std::span<const std::uint8_t> report) override;
  base::Result<std::size_t> getReport(platform::HidReportType type, std::uint8_t reportId,
                                      std::span<std::uint8_t> buffer) override;

 private:
  std::string path_;
  std::map<std::string, platform::HidProperty, std::less<>> properties_;
  std::string openError_;
  bool open_ = false;
  int openCount_ = 0;
  InputReportHandler handler_;
  mutable std::mutex mutex_;
  std::vector<SentReport> sent_;
  std::map<std::uint8_t, std::vector<std::uint8_t>> features_;
};

class FakeHidManager;

class FakeHidSystem {
 public:
  // Installs itself as the process's HID manager factory.
  FakeHidSystem();
  // Restores the factory that was set before. Managers made from it stop reporting.
  ~FakeHidSystem();
  FakeHidSystem(const FakeHidSystem&) = delete;
  FakeHidSystem& operator=(const FakeHidSystem&) = delete;

  // The device appears: every scheduled manager reports it from its loop.
  std::shared_ptr<FakeHidDevice> plug(std::shared_ptr<FakeHidDevice> device);
  // The device goes away (and is closed).
  void unplug(const std::shared_ptr<FakeHidDevice>& device);
  // How many managers were made while the system was installed.
  int managersMade() const { return managersMade_; }

 private:
  friend class FakeHidManager;
  struct State;
  std::shared_ptr<State> state_;
  int managersMade_ = 0;
  platform::HidManagerFactory previous_;
};

}  // namespace zv::testing
