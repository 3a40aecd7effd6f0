#include "platform/LinuxHidManager.h"

#include <libudev.h>
#include <sys/epoll.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/HidPrimaryUsage.h"
#include "platform/HidSysfs.h"
#include "platform/LinuxHidDevice.h"

namespace zv::platform {

namespace {

// The largest report descriptor the kernel keeps (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t kMaxDescriptor = 4096;

// One object per present hidraw node, shared by every manager of the process.
std::mutex registryMutex;
std::map<std::string, std::weak_ptr<LinuxHidDevice>>& registry() {
  static auto* devices = new std::map<std::string, std::weak_ptr<LinuxHidDevice>>;
  return *devices;
}

std::vector<std::uint8_t> readDescriptor(const std::string& hidSyspath) {
  std::ifstream file(hidSyspath + "/report_descriptor", std::ios::binary);
  std::vector<std::uint8_t> bytes;
  if (!file) return bytes;
  bytes.resize(kMaxDescriptor);
  file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  bytes.resize(std::size_t(std::max<std::streamsize>(file.gcount(), 0)));
  return bytes;
}

// What a hidraw node's HID parent says about it; nothing for nodes never matched (no
// HID parent, a uhid device, unreadable identifiers).
std::optional<LinuxHidDevice::Info> describe(udev_device* hidraw) {
  const char* devnode = udev_device_get_devnode(hidraw);
  const char* syspath = udev_device_get_syspath(hidraw);
  if (!devnode || !syspath) return std::nullopt;
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
  if (!hid) return std::nullopt;
  const char* hidSyspath = udev_device_get_syspath(hid);
  if (!hidSyspath || isUnderUhid(hidSyspath)) return std::nullopt;
  const char* hidId = udev_device_get_property_value(hid, "HID_ID");
  const std::optional<HidId> id = hidId ? parseHidId(hidId) : std::nullopt;
  if (!id) return std::nullopt;
  LinuxHidDevice::Info info;
  info.devnode = devnode;
  info.syspath = syspath;
  info.id = *id;
  const std::vector<std::uint8_t> descriptor = readDescriptor(hidSyspath);
  info.usage = primaryUsage(descriptor);
  if (const char* name = udev_device_get_property_value(hid, "HID_NAME")) info.product = name;
  return info;
}

}  // namespace

LinuxHidManager::LinuxHidManager() = default;

LinuxHidManager::~LinuxHidManager() {
  *alive_ = false;
  unscheduleFromRunLoop();
  if (udev_) udev_unref(udev_);
}

void LinuxHidManager::setDeviceMatchingCallback(DeviceCallback callback) {
  matching_ = std::move(callback);
}

void LinuxHidManager::setDeviceRemovalCallback(DeviceCallback callback) {
  removal_ = std::move(callback);
}

base::Result<void> LinuxHidManager::scheduleWithRunLoop(RunLoop& loop) {
  if (loop_ == &loop) return {};
  unscheduleFromRunLoop();
  if (!udev_) udev_ = udev_new();
  if (!udev_) {
    return base::Failure{base::kSystemDomain, ENODEV,
                         "cannot read the system's device list (udev_new failed)"};
  }
  loop_ = &loop;

  // Follow arrivals before listing, so that nothing arrives unseen in between; a device
  // both listed and announced is matched once.
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ &&
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) >= 0 &&
      udev_monitor_enable_receiving(monitor_) >= 0) {
    watch_ = loop.watchFd(udev_monitor_get_fd(monitor_), EPOLLIN,
                          [this](std::uint32_t) { receiveFromMonitor(); });
  }
  limitation_.clear();
  if (!watch_) {
    limitation_ =
        "cannot follow HID devices as they come and go (no udev monitor): devices present "
        "now are found, devices plugged in later only after a restart";
    if (monitor_) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
  }

  udev_enumerate* enumerate = udev_enumerate_new(udev_);
  if (!enumerate || udev_enumerate_add_match_subsystem(enumerate, "hidraw") < 0 ||
      udev_enumerate_scan_devices(enumerate) < 0) {
    if (enumerate) udev_enumerate_unref(enumerate);
    return base::Failure{base::kSystemDomain, ENODEV, "cannot list the hidraw devices"};
  }
  std::vector<std::string> present;
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    if (const char* path = udev_list_entry_get_name(entry)) present.emplace_back(path);
  }
  udev_enumerate_unref(enumerate);

  // Reported from the loop, never from inside this call: callers register callbacks
  // and drivers around it.
  std::weak_ptr<bool> alive = alive_;
  loop.post([this, alive, present] {
    if (alive.expired() || !udev_) return;
    for (const std::string& path : present) {
      udev_device* device = udev_device_new_from_syspath(udev_, path.c_str());
      if (!device) continue;
      added(device);
      udev_device_unref(device);
      if (alive.expired()) return;
    }
  });
  return {};
}

void LinuxHidManager::unscheduleFromRunLoop() {
  if (loop_ && watch_) loop_->unwatchFd(watch_);
  watch_ = 0;
  if (monitor_) udev_monitor_unref(monitor_);
  monitor_ = nullptr;
  loop_ = nullptr;
}

std::vector<HidDeviceRef> LinuxHidManager::devices() const {
  std::vector<HidDeviceRef> result;
  for (const std::string& key : order_) result.push_back(devices_.at(key));
  return result;
}

void LinuxHidManager::receiveFromMonitor() {
  std::weak_ptr<bool> alive = alive_;
  while (monitor_) {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) return;
    const char* action = udev_device_get_action(device);
    const char* syspath = udev_device_get_syspath(device);
    const std::string what = action ? action : "";
    if (what == "add") {
      added(device);
    } else if (what == "remove" && syspath) {
      removed(syspath);
    }
    udev_device_unref(device);
    if (alive.expired()) return;
  }
}

void LinuxHidManager::added(udev_device* hidraw) {
  const char* syspath = udev_device_get_syspath(hidraw);
  if (!syspath || devices_.contains(syspath) || !loop_) return;
  std::optional<LinuxHidDevice::Info> info = describe(hidraw);
  if (!info) return;

  std::shared_ptr<LinuxHidDevice> device;
  {
    std::lock_guard lock(registryMutex);
    std::weak_ptr<LinuxHidDevice>& slot = registry()[info->syspath];
    device = slot.lock();
    // A node that came back is a new device, even under the same name.
    if (!device || device->info().devnode != info->devnode || device->info().id != info->id) {
      device = std::make_shared<LinuxHidDevice>(std::move(*info), *loop_);
      slot = device;
    }
  }
  devices_[syspath] = device;
  order_.emplace_back(syspath);
  if (matching_) {
    DeviceCallback callback = matching_;
    callback(device);
  }
}

void LinuxHidManager::removed(const std::string& syspath) {
  const auto found = devices_.find(syspath);
  if (found == devices_.end()) return;
  HidDeviceRef device = found->second;
  devices_.erase(found);
  order_.erase(std::remove(order_.begin(), order_.end(), syspath), order_.end());
  {
    std::lock_guard lock(registryMutex);
    const auto slot = registry().find(syspath);
    if (slot != registry().end() && slot->second.lock() == device) registry().erase(slot);
  }
  device->close();
  if (removal_) {
    DeviceCallback callback = removal_;
    callback(device);
  }
}

}  // namespace zv::platform
