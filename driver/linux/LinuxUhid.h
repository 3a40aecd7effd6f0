// The uhid event protocol (linux/uhid.h) on a descriptor: /dev/uhid for the daemon, or a
// socket whose other end plays the kernel in tests. Every event is one struct uhid_event
// written or read whole.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "daemon/UhidDevice.h"

namespace zv::driver {

class LinuxUhid : public UhidDevice {
 public:
  // Opens /dev/uhid (or $KINETRA_UHID_NODE). Nothing, with *error, when that fails.
  static std::unique_ptr<LinuxUhid> open(std::string* error);
  // Speaks uhid on `fd`, which it then owns (non-blocking for reads).
  explicit LinuxUhid(int fd);
  ~LinuxUhid() override;

  int create(const UhidCreateParams& params) override;
  int input(std::span<const std::uint8_t> report) override;
  void destroy() override;
  int fd() const override { return fd_; }
  std::optional<UhidRequest> readRequest() override;
  void answerGetReport(std::uint32_t id, std::uint16_t err,
                       std::span<const std::uint8_t> data) override;
  void answerSetReport(std::uint32_t id, std::uint16_t err) override;

 private:
  int writeEvent(const void* event, std::size_t size);

  int fd_;
  bool created_ = false;
  std::mutex writeMutex_;  // the reporter thread and the loop both send input
};

}  // namespace zv::driver
