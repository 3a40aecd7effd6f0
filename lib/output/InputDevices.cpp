#include "output/InputDevices.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "output/InputAccess.h"
#include "output/KeyTables.h"
#include "output/UinputOutput.h"

namespace zv::output {
namespace {

class EvdevDevice : public InputDevice {
 public:
  EvdevDevice(int fd, libevdev* dev) : fd_(fd), dev_(dev) {
    // Monotonic times, like every other time in the suite.
    libevdev_set_clock_id(dev_, CLOCK_MONOTONIC);
  }
  ~EvdevDevice() override {
    if (grabbed_) libevdev_grab(dev_, LIBEVDEV_UNGRAB);
    libevdev_free(dev_);
    ::close(fd_);
  }
  EvdevDevice(const EvdevDevice&) = delete;
  EvdevDevice& operator=(const EvdevDevice&) = delete;

  int fd() const override { return fd_; }
  std::string name() const override {
    const char* name = libevdev_get_name(dev_);
    return name ? name : "";
  }
  bool grab(bool on) override {
    if (on == grabbed_) return true;
    if (libevdev_grab(dev_, on ? LIBEVDEV_GRAB : LIBEVDEV_UNGRAB) != 0) return false;
    grabbed_ = on;
    return true;
  }
  bool anyKeyDown() const override {
    for (unsigned code = 0; code <= KEY_MAX; ++code) {
      if (libevdev_has_event_code(dev_, EV_KEY, code) &&
          libevdev_get_event_value(dev_, EV_KEY, code) != 0) {
        return true;
      }
    }
    return false;
  }
  bool readEvents(std::vector<InputEvent>& out) override {
    if (gone_) return false;
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    for (;;) {
      input_event event{};
      const int rc = libevdev_next_event(dev_, flags, &event);
      if (rc == LIBEVDEV_READ_STATUS_SUCCESS || rc == LIBEVDEV_READ_STATUS_SYNC) {
        // After an overflow libevdev hands out the state changes that were lost, as
        // events; they are taken like any other, so no release goes missing.
        flags =
            rc == LIBEVDEV_READ_STATUS_SYNC ? LIBEVDEV_READ_FLAG_SYNC : LIBEVDEV_READ_FLAG_NORMAL;
        const std::uint64_t ns = static_cast<std::uint64_t>(event.input_event_sec) * 1000000000ULL +
                                 static_cast<std::uint64_t>(event.input_event_usec) * 1000ULL;
        out.push_back({event.type, event.code, event.value, ns});
        continue;
      }
      if (rc == -EAGAIN) {
        if (flags == LIBEVDEV_READ_FLAG_SYNC) {
          flags = LIBEVDEV_READ_FLAG_NORMAL;
          continue;
        }
        return true;
      }
      gone_ = true;
      return false;
    }
  }

 private:
  int fd_;
  libevdev* dev_;
  bool grabbed_ = false;
  bool gone_ = false;
};

class EvdevInputDevices : public InputDeviceSource {
 public:
  explicit EvdevInputDevices(std::string folder) : folder_(std::move(folder)) {}

  std::vector<std::shared_ptr<InputDevice>> open(InputDeviceKind kind,
                                                 std::string* problem) override {
    std::vector<std::shared_ptr<InputDevice>> devices;
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
      if (entry.path().filename().string().rfind("event", 0) == 0) {
        nodes.push_back(entry.path().string());
      }
    }
    const char* what = kind == InputDeviceKind::keyboard ? "keyboard" : "pointing device";
    if (error) {
      if (problem) *problem = "cannot list " + folder_ + ": " + error.message();
      return devices;
    }
    std::sort(nodes.begin(), nodes.end());
    std::string refused;
    for (const std::string& node : nodes) {
      const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        if ((errno == EACCES || errno == EPERM) && refused.empty()) refused = node;
        continue;
      }
      libevdev* dev = nullptr;
      if (libevdev_new_from_fd(fd, &dev) != 0) {
        ::close(fd);
        continue;
      }
      const char* name = libevdev_get_name(dev);
      const bool ours = name && isOwnVirtualDevice(name);
      const bool matches = isDeviceOfKind(kind, [dev](std::uint16_t type, std::uint16_t code) {
        return libevdev_has_event_code(dev, type, code) == 1;
      });
      if (ours || !matches) {
        libevdev_free(dev);
        ::close(fd);
        continue;
      }
      devices.push_back(std::make_shared<EvdevDevice>(fd, dev));
    }
    if (devices.empty() && problem) {
      if (!refused.empty()) {
        *problem = std::string("cannot read the input devices (") + refused +
                   ": permission denied); " + inputAccessAdvice();
      } else {
        *problem = std::string("no ") + what + " found under " + folder_;
      }
    }
    return devices;
  }

 private:
  std::string folder_;
};

std::mutex& watcherMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<FdWatcher>& watcherSlot() {
  static std::shared_ptr<FdWatcher> watcher;
  return watcher;
}

}  // namespace

std::shared_ptr<InputDeviceSource> evdevInputDevices(std::string folder) {
  return std::make_shared<EvdevInputDevices>(std::move(folder));
}

TapServices defaultTapServices() {
  static const std::shared_ptr<InputDeviceSource> devices = evdevInputDevices();
  std::lock_guard lock(watcherMutex());
  return {devices, watcherSlot()};
}

TapServices TapServices::orDefaults() const {
  if (devices && watcher) return *this;
  const TapServices defaults = defaultTapServices();
  return {devices ? devices : defaults.devices, watcher ? watcher : defaults.watcher};
}

void setDefaultTapWatcher(std::shared_ptr<FdWatcher> watcher) {
  std::lock_guard lock(watcherMutex());
  watcherSlot() = std::move(watcher);
}

bool isDeviceOfKind(InputDeviceKind kind, const CapabilityQuery& has) {
  const bool pointer = has(EV_REL, REL_X) && has(EV_REL, REL_Y) && has(EV_KEY, BTN_LEFT);
  if (kind == InputDeviceKind::pointer) return pointer;
  if (has(EV_REL, REL_X) || has(EV_REL, REL_Y)) return false;
  for (const KeyRow& row : keys()) {
    if (has(EV_KEY, row.key)) return true;
  }
  for (const KeyRow& row : specialKeys()) {
    if (has(EV_KEY, row.key)) return true;
  }
  return false;
}

}  // namespace zv::output
