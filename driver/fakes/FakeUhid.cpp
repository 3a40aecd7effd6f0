#include "fakes/FakeUhid.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zv::driver {

FakeUhid::FakeUhid() {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
  if (wake_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

FakeUhid::~FakeUhid() {
  close(wake_);
}

int FakeUhid::create(const UhidCreateParams& params) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (createError_) return -createError_;
  if (created_ && !destroyed_) return -EALREADY;
  created_ = params;
  destroyed_ = false;
  return 0;
}

int FakeUhid::input(std::span<const std::uint8_t> report) {
  InputSink sink;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!created_ || destroyed_) return -EINVAL;
    ++inputCount_;
    if (recording_) inputs_.emplace_back(report.begin(), report.end());
    sink = sink_;
  }
  if (sink) sink(report);
  return 0;
}

void FakeUhid::destroy() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (created_) destroyed_ = true;
}

std::optional<UhidRequest> FakeUhid::readRequest() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (requests_.empty()) return std::nullopt;
  std::uint64_t one;
  [[maybe_unused]] ssize_t n = read(wake_, &one, sizeof one);
  UhidRequest request = std::move(requests_.front());
  requests_.pop_front();
  return request;
}

void FakeUhid::answerGetReport(std::uint32_t id, std::uint16_t err,
                               std::span<const std::uint8_t> data) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back({true, id, err, {data.begin(), data.end()}});
}

void FakeUhid::answerSetReport(std::uint32_t id, std::uint16_t err) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back({false, id, err, {}});
}

void FakeUhid::setCreateError(int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  createError_ = error;
}

void FakeUhid::setRecording(bool recording) {
  std::lock_guard<std::mutex> lock(mutex_);
  recording_ = recording;
}

void FakeUhid::setInputSink(InputSink sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  sink_ = std::move(sink);
}

bool FakeUhid::exists() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return created_ && !destroyed_;
}

std::optional<UhidCreateParams> FakeUhid::created() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return created_;
}

bool FakeUhid::destroyed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return destroyed_;
}

std::vector<std::vector<std::uint8_t>> FakeUhid::inputs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return inputs_;
}

std::size_t FakeUhid::inputCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return inputCount_;
}

void FakeUhid::pushRequest(UhidRequest request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

std::vector<FakeUhid::Answer> FakeUhid::answers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answers_;
}

}  // namespace zv::driver
