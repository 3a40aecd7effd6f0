// A uhid device without a kernel: records the device it was asked to create and every
// input report, and lets a test play the system's requests (feature reads and writes,
// output reports), which the driver answers.
//
// Thread safety: every operation may be called from any thread (the driver's loop, the
// mouse reporter and a test thread at once).
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "daemon/UhidDevice.h"

namespace zv::driver {

class FakeUhid : public UhidDevice {
 public:
  // Called for each input report, on the sending thread, after it was recorded.
  using InputSink = std::function<void(std::span<const std::uint8_t> report)>;

  FakeUhid();
  ~FakeUhid() override;

  int create(const UhidCreateParams& params) override;
  int input(std::span<const std::uint8_t> report) override;
  void destroy() override;
  int fd() const override { return wake_; }
  std::optional<UhidRequest> readRequest() override;
  void answerGetReport(std::uint32_t id, std::uint16_t err,
                       std::span<const std::uint8_t> data) override;
  void answerSetReport(std::uint32_t id, std::uint16_t err) override;

  // ---- The system's side ----

  // create() fails with -error (0: succeeds).
  void setCreateError(int error);
  // Keep input reports (default) or only count them (long runs).
  void setRecording(bool recording);
  void setInputSink(InputSink sink);

  bool exists() const;  // created and not destroyed
  std::optional<UhidCreateParams> created() const;
  bool destroyed() const;
  std::vector<std::vector<std::uint8_t>> inputs() const;
  std::size_t inputCount() const;

  // Queues a request for the driver (its fd becomes readable).
  void pushRequest(UhidRequest request);
  struct Answer {
    bool getReport;  // else a set-report answer
    std::uint32_t id;
    std::uint16_t err;
    std::vector<std::uint8_t> data;
  };
  std::vector<Answer> answers() const;

 private:
  int wake_ = -1;  // eventfd: readable while requests wait
  mutable std::mutex mutex_;
  int createError_ = 0;
  bool recording_ = true;
  InputSink sink_;
  std::optional<UhidCreateParams> created_;
  bool destroyed_ = false;
  std::vector<std::vector<std::uint8_t>> inputs_;
  std::size_t inputCount_ = 0;
  std::deque<UhidRequest> requests_;
  std::vector<Answer> answers_;
};

}  // namespace zv::driver
