#include "device/SimulatedHidManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "device/DaemonConnection.h"
#include "platform/Paths.h"
#include "protocol/HIDConstants.h"

namespace zv::device {

namespace uc = userclient;

namespace {

constexpr std::string_view kSimulatedPrefix = "simulated-";

class SimulatedHidDevice : public platform::HidDevice {
 public:
  SimulatedHidDevice(std::string deviceId, const uc::ZVDeviceInfo& info)
      : deviceId_(std::move(deviceId)), info_(info) {}

  platform::HidProperty property(std::string_view key) const override {
    if (key == platform::kHidVendorIDKey) return static_cast<std::int64_t>(info_.vendorID);
    if (key == platform::kHidProductIDKey) return static_cast<std::int64_t>(info_.productID);
    if (key == platform::kHidPrimaryUsagePageKey) return std::int64_t{hid::kGenericDesktopPage};
    if (key == platform::kHidPrimaryUsageKey) return std::int64_t{hid::kMouseUsage};
    if (key == platform::kHidTransportKey) return std::string("Simulated");
    if (key == platform::kHidProductKey) return "Simulated mouse " + deviceId_;
    return std::monostate{};
  }
  // The daemon's device id: the driver interface prefers the service of that name.
  std::string path() const override { return deviceId_; }
  base::Result<void> open() override { return {}; }
  void close() override {}
  bool isOpen() const override { return true; }
  void setInputReportHandler(InputReportHandler) override {}
  base::Result<void> setReport(platform::HidReportType, std::uint8_t,
                               std::span<const std::uint8_t>) override {
    return {};
  }
  base::Result<std::size_t> getReport(platform::HidReportType, std::uint8_t,
                                      std::span<std::uint8_t>) override {
    return base::Failure{base::kSystemDomain, ENOTSUP, "a simulated mouse has no reports to read"};
  }

 private:
  std::string deviceId_;
  uc::ZVDeviceInfo info_;
};

}  // namespace

SimulatedHidManager::SimulatedHidManager(std::chrono::milliseconds interval)
    : interval_(interval) {}

SimulatedHidManager::~SimulatedHidManager() {
  *alive_ = false;
  unscheduleFromRunLoop();
}

void SimulatedHidManager::setDeviceMatchingCallback(DeviceCallback callback) {
  matching_ = std::move(callback);
}

void SimulatedHidManager::setDeviceRemovalCallback(DeviceCallback callback) {
  removal_ = std::move(callback);
}

base::Result<void> SimulatedHidManager::scheduleWithRunLoop(platform::RunLoop& loop) {
  if (loop_ == &loop) return {};
  unscheduleFromRunLoop();
  loop_ = &loop;
  std::weak_ptr<bool> alive = alive_;
  loop.post([this, alive] {
    if (!alive.expired()) rescan();
  });
  timer_ = loop.addRepeatingTimer(interval_, [this, alive] {
    if (!alive.expired()) rescan();
  });
  return {};
}

void SimulatedHidManager::unscheduleFromRunLoop() {
  if (loop_ && timer_) loop_->cancelTimer(timer_);
  timer_ = 0;
  loop_ = nullptr;
}

std::vector<platform::HidDeviceRef> SimulatedHidManager::devices() const {
  std::vector<platform::HidDeviceRef> result;
  for (const std::string& name : order_) result.push_back(devices_.at(name));
  return result;
}

void SimulatedHidManager::rescan() {
  if (!loop_) return;
  std::vector<std::string> present;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(platform::servicesFolder(), ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const auto service = uc::parseServiceName(name);
    if (service && service->deviceId.rfind(kSimulatedPrefix, 0) == 0) present.push_back(name);
  }
  std::sort(present.begin(), present.end());
  std::weak_ptr<bool> alive = alive_;
  // Gone first, so that a daemon restarted under the same name is a new device.
  for (const std::string& name : std::vector<std::string>(order_)) {
    if (std::find(present.begin(), present.end(), name) != present.end()) continue;
    platform::HidDeviceRef device = devices_[name];
    devices_.erase(name);
    order_.erase(std::find(order_.begin(), order_.end(), name));
    if (DeviceCallback callback = removal_) callback(device);
    if (alive.expired()) return;
  }
  for (const std::string& name : present) {
    if (devices_.contains(name)) continue;
    // The daemon says which mouse it simulates; one that does not answer (yet) is asked
    // again at the next look.
    const auto client = DaemonConnection::open((platform::servicesFolder() / name).string());
    if (!client) continue;
    const auto reply = (*client)->call(uc::sGetDeviceInfo, {}, {}, 0, uc::kDeviceInfoSize);
    (*client)->close();
    const auto info = reply && reply->result == uc::kReturnSuccess
                          ? uc::ZVDeviceInfo::decode(reply->structure)
                          : std::nullopt;
    if (!info) continue;
    auto device = std::make_shared<SimulatedHidDevice>(uc::parseServiceName(name)->deviceId, *info);
    devices_[name] = device;
    order_.push_back(name);
    if (DeviceCallback callback = matching_) callback(device);
    if (alive.expired()) return;
  }
}

void installSimulatedHidManager() {
  platform::setHidManagerFactory([] { return std::make_unique<SimulatedHidManager>(); });
}

bool simulatedDevicesRequested() {
  const char* value = std::getenv("KINETRA_SIMULATED_DEVICES");
  return value && *value && std::string_view(value) != "0";
}

}  // namespace zv::device
