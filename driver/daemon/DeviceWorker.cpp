#include "daemon/DeviceWorker.h"

namespace zv::driver {

DeviceWorker::DeviceWorker(Mode mode) : mode_(mode) {
  if (mode_ == Mode::thread) thread_ = std::thread([this] { run(); });
}

DeviceWorker::~DeviceWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    jobs_.clear();
  }
  wake_.notify_all();
  thread_.join();
}

void DeviceWorker::submit(Job job) {
  if (mode_ == Mode::inline_) {
    job();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void DeviceWorker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !running_ || !jobs_.empty(); });
    if (!running_) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace zv::driver
