#include "testing/FakeHidManager.h"

#include <algorithm>
#include <cerrno>

namespace zv::testing {

using platform::HidDeviceRef;
using platform::HidProperty;
using platform::HidReportType;

std::shared_ptr<FakeHidDevice> FakeHidDevice::make(std::uint32_t vendor, std::uint32_t product,
                                                   std::uint16_t usage) {
  static int next = 0;
  auto device = std::make_shared<FakeHidDevice>("/dev/fake-hidraw" + std::to_string(next++));
  device->setProperty(std::string(platform::kHidVendorIDKey), std::int64_t{vendor});
  device->setProperty(std::string(platform::kHidProductIDKey), std::int64_t{product});
  device->setProperty(std::string(platform::kHidPrimaryUsagePageKey), std::int64_t{1});
  device->setProperty(std::string(platform::kHidPrimaryUsageKey), std::int64_t{usage});
  device->setProperty(std::string(platform::kHidTransportKey), std::string("USB"));
  return device;
}

void FakeHidDevice::setProperty(std::string key, HidProperty value) {
  properties_[std::move(key)] = std::move(value);
}

HidProperty FakeHidDevice::property(std::string_view key) const {
  const auto found = properties_.find(key);
  return found == properties_.end() ? HidProperty{} : found->second;
}

base::Result<void> FakeHidDevice::open() {
  if (!openError_.empty()) return base::Failure{base::kSystemDomain, EACCES, openError_};
  ++openCount_;
  open_ = true;
  return {};
}

void FakeHidDevice::sendInputReport(const std::vector<std::uint8_t>& report) {
  if (open_ && handler_) handler_(report);
}

void FakeHidDevice::setFeatureReport(std::uint8_t reportId, std::vector<std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  features_[reportId] = std::move(bytes);
}

std::vector<FakeHidDevice::SentReport> FakeHidDevice::sentReports() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

base::Result<void> FakeHidDevice::setReport(HidReportType type, std::uint8_t reportId,
                                            std::span<const std::uint8_t> report) {
  if (!open_) return base::Failure{base::kSystemDomain, EBADF, path_ + " is not open"};
  std::lock_guard lock(mutex_);
  sent_.push_back({type, reportId, {report.begin(), report.end()}});
  return {};
}

base::Result<std::size_t> FakeHidDevice::getReport(HidReportType type, std::uint8_t reportId,
                                                   std::span<std::uint8_t> buffer) {
  std::lock_guard lock(mutex_);
  const auto found = features_.find(reportId);
  if (!open_ || type != HidReportType::Feature || found == features_.end()) {
    return base::Failure{base::kSystemDomain, EPIPE, "no such report"};
  }
  const std::size_t count = std::min(buffer.size(), found->second.size());
  std::copy_n(found->second.begin(), count, buffer.begin());
  return count;
}

// What the managers of one installed system share.
struct FakeHidSystem::State {
  std::vector<std::shared_ptr<FakeHidDevice>> present;
  std::vector<FakeHidManager*> managers;
};

class FakeHidManager : public platform::HidManager {
 public:
  explicit FakeHidManager(std::shared_ptr<FakeHidSystem::State> state) : state_(std::move(state)) {
    state_->managers.push_back(this);
  }
  ~FakeHidManager() override {
    *alive_ = false;
    auto& list = state_->managers;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }

  void setDeviceMatchingCallback(DeviceCallback callback) override {
    matching_ = std::move(callback);
  }
  void setDeviceRemovalCallback(DeviceCallback callback) override {
    removal_ = std::move(callback);
  }
  base::Result<void> scheduleWithRunLoop(platform::RunLoop& loop) override {
    if (loop_ == &loop) return {};
    loop_ = &loop;
    for (const auto& device : state_->present) plugged(device);
    return {};
  }
  void unscheduleFromRunLoop() override { loop_ = nullptr; }
  std::vector<HidDeviceRef> devices() const override { return {matched_.begin(), matched_.end()}; }

  void plugged(const std::shared_ptr<FakeHidDevice>& device) {
    if (!loop_) return;
    std::weak_ptr<bool> alive = alive_;
    loop_->post([this, alive, device] {
      if (alive.expired() || !loop_) return;
      if (std::find(matched_.begin(), matched_.end(), device) != matched_.end()) return;
      matched_.push_back(device);
      if (DeviceCallback callback = matching_) callback(device);
    });
  }
  void unplugged(const std::shared_ptr<FakeHidDevice>& device) {
    if (!loop_) return;
    std::weak_ptr<bool> alive = alive_;
    loop_->post([this, alive, device] {
      if (alive.expired() || !loop_) return;
      const auto found = std::find(matched_.begin(), matched_.end(), device);
      if (found == matched_.end()) return;
      matched_.erase(found);
      if (DeviceCallback callback = removal_) callback(device);
    });
  }

 private:
  std::shared_ptr<FakeHidSystem::State> state_;
  platform::RunLoop* loop_ = nullptr;
  DeviceCallback matching_;
  DeviceCallback removal_;
  std::vector<std::shared_ptr<FakeHidDevice>> matched_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

FakeHidSystem::FakeHidSystem() : state_(std::make_shared<State>()) {
  std::shared_ptr<State> state = state_;
  previous_ =
      platform::setHidManagerFactory([this, state]() -> std::unique_ptr<platform::HidManager> {
        ++managersMade_;
        return std::make_unique<FakeHidManager>(state);
      });
}

FakeHidSystem::~FakeHidSystem() {
  platform::setHidManagerFactory(std::move(previous_));
  // Managers that outlive the system (held by process-wide registries) stop reporting.
  for (FakeHidManager* manager : state_->managers) manager->unscheduleFromRunLoop();
}

std::shared_ptr<FakeHidDevice> FakeHidSystem::plug(std::shared_ptr<FakeHidDevice> device) {
  state_->present.push_back(device);
  for (FakeHidManager* manager : state_->managers) manager->plugged(device);
  return device;
}

void FakeHidSystem::unplug(const std::shared_ptr<FakeHidDevice>& device) {
  auto& present = state_->present;
  present.erase(std::remove(present.begin(), present.end(), device), present.end());
  device->close();
  for (FakeHidManager* manager : state_->managers) manager->unplugged(device);
}

}  // namespace zv::testing
