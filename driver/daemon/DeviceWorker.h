// Runs the driver's blocking device requests (feature reports, output reports, USB control
// transfers) one after another on a thread of their own, so the report path and the other
// clients never wait for a slow or stuck device. A job hands its result back to the loop
// with EventLoop::post.
//
// Mode::inline_ runs each job at once on the submitting thread (fuzzing, benchmarks).
//
// Thread safety: submit() from any thread. Destruction finishes the job in progress and
// drops the ones still queued.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace zv::driver {

class DeviceWorker {
 public:
  enum class Mode { thread, inline_ };
  using Job = std::function<void()>;

  explicit DeviceWorker(Mode mode = Mode::thread);
  ~DeviceWorker();
  DeviceWorker(const DeviceWorker&) = delete;
  DeviceWorker& operator=(const DeviceWorker&) = delete;

  void submit(Job job);

 private:
  void run();

  const Mode mode_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool running_ = true;
  std::thread thread_;
};

}  // namespace zv::driver
