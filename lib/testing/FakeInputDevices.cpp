#include "testing/FakeInputDevices.h"

#include <linux/input-event-codes.h>

namespace zv::testing {

int FakeInputDevice::nextFd_ = 1000;

FakeInputDevice::FakeInputDevice(std::string name) : fd_(nextFd_++), name_(std::move(name)) {}

bool FakeInputDevice::grab(bool on) {
  ++grabCalls_;
  if (on && refuseGrab_) return false;
  grabbed_ = on;
  return true;
}

bool FakeInputDevice::readEvents(std::vector<output::InputEvent>& out) {
  while (!queue_.empty()) {
    const output::InputEvent event = queue_.front();
    queue_.pop_front();
    if (event.type == EV_KEY) {
      if (event.value != 0) {
        down_.insert(event.code);
      } else {
        down_.erase(event.code);
      }
    }
    out.push_back(event);
  }
  return !gone_;
}

void FakeInputDevice::push(std::vector<output::InputEvent> events) {
  queue_.insert(queue_.end(), events.begin(), events.end());
}

void FakeInputDevice::pushKey(std::uint16_t code, std::int32_t value, std::uint64_t timeNs) {
  push({{EV_KEY, code, value, timeNs}, {EV_SYN, SYN_REPORT, 0, timeNs}});
}

void FakeInputDeviceSource::add(output::InputDeviceKind kind,
                                std::shared_ptr<FakeInputDevice> device) {
  devices_.emplace(kind, std::move(device));
}

std::vector<std::shared_ptr<output::InputDevice>> FakeInputDeviceSource::open(
    output::InputDeviceKind kind, std::string* problem) {
  ++opens_;
  std::vector<std::shared_ptr<output::InputDevice>> out;
  auto [first, last] = devices_.equal_range(kind);
  for (auto it = first; it != last; ++it) out.push_back(it->second);
  if (out.empty() && problem) *problem = problem_;
  return out;
}

void FakeFdWatcher::watch(int fd, std::function<void()> readable) {
  callbacks_[fd] = std::move(readable);
}

void FakeFdWatcher::unwatch(int fd) {
  callbacks_.erase(fd);
}

bool FakeFdWatcher::fire(int fd) {
  auto found = callbacks_.find(fd);
  if (found == callbacks_.end()) return false;
  // The callback may unwatch itself: run a copy.
  std::function<void()> callback = found->second;
  callback();
  return true;
}

}  // namespace zv::testing
