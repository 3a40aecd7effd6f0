// Fakes for the taps: input devices fed by the test, a device source that hands them out
// and an FdWatcher whose "readable" the test fires.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "output/InputDevices.h"

namespace zv::testing {

class FakeInputDevice : public output::InputDevice {
 public:
  explicit FakeInputDevice(std::string name);

  int fd() const override { return fd_; }
  std::string name() const override { return name_; }
  bool grab(bool on) override;
  bool anyKeyDown() const override { return !down_.empty(); }
  bool readEvents(std::vector<output::InputEvent>& out) override;

  // Queues events for the next read; key and button states follow them as they are read.
  void push(std::vector<output::InputEvent> events);
  // One key or button change followed by SYN_REPORT.
  void pushKey(std::uint16_t code, std::int32_t value, std::uint64_t timeNs = 0);
  // Marks a key as held before the tap opens the device.
  void hold(std::uint16_t code) { down_.insert(code); }
  void unplug() { gone_ = true; }

  bool grabbed() const { return grabbed_; }
  void refuseGrab(bool refuse) { refuseGrab_ = refuse; }
  int grabCalls() const { return grabCalls_; }

 private:
  static int nextFd_;
  int fd_;
  std::string name_;
  std::deque<output::InputEvent> queue_;
  std::set<std::uint16_t> down_;
  bool grabbed_ = false;
  bool refuseGrab_ = false;
  bool gone_ = false;
  int grabCalls_ = 0;
};

class FakeInputDeviceSource : public output::InputDeviceSource {
 public:
  void add(output::InputDeviceKind kind, std::shared_ptr<FakeInputDevice> device);
  void setProblem(std::string problem) { problem_ = std::move(problem); }
  int opens() const { return opens_; }

  std::vector<std::shared_ptr<output::InputDevice>> open(output::InputDeviceKind kind,
                                                         std::string* problem) override;

 private:
  std::multimap<output::InputDeviceKind, std::shared_ptr<FakeInputDevice>> devices_;
  std::string problem_ = "no device in the fake";
  int opens_ = 0;
};

class FakeFdWatcher : public output::FdWatcher {
 public:
  void watch(int fd, std::function<void()> readable) override;
  void unwatch(int fd) override;
  bool watching(int fd) const { return callbacks_.count(fd) != 0; }
  std::size_t watched() const { return callbacks_.size(); }
  // Runs the callback of `fd` as the loop does when it is readable; false when unwatched.
  bool fire(int fd);

 private:
  std::map<int, std::function<void()>> callbacks_;
};

}  // namespace zv::testing
