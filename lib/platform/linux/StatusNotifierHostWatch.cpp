#include "platform/linux/StatusNotifierHostWatch.h"

#include "platform/linux/BusValues.h"

namespace zv::platform {

namespace {
constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
}  // namespace

base::Result<std::unique_ptr<StatusNotifierHostWatch>> StatusNotifierHostWatch::open(
    std::unique_ptr<BusConnection> bus, Observer observer) {
  std::unique_ptr<StatusNotifierHostWatch> watch(
      new StatusNotifierHostWatch(std::move(bus), std::move(observer)));
  StatusNotifierHostWatch* w = watch.get();
  sd_bus_slot* slot = nullptr;
  // Any signal of the watcher (a host or an item registered or gone) is a reason to ask.
  const std::string signals = std::string("type='signal',interface='") + kWatcher + "'";
  int r = sd_bus_add_match_async(w->bus_->bus(), &slot, signals.c_str(), changed, nullptr, w);
  if (r < 0) return busFailure(nullptr, r, "cannot follow the status-notifier watcher");
  w->watcherSignals_.reset(slot);
  auto owner = w->bus_->followOwner(kWatcher, changed, w);
  if (!owner) return owner.failure();
  w->ownerSignal_ = std::move(*owner);
  w->ask();
  return watch;
}

StatusNotifierHostWatch::~StatusNotifierHostWatch() {
  pendingCall_.reset();
  watcherSignals_.reset();
  ownerSignal_.reset();
}

void StatusNotifierHostWatch::ask() {
  auto call = bus_->callAsync(
      kWatcher, kWatcherPath, "org.freedesktop.DBus.Properties", "Get",
      [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ss", kWatcher, "IsStatusNotifierHostRegistered");
      },
      answered, this);
  if (!call) return set(false);
  pendingCall_ = std::move(*call);
}

int StatusNotifierHostWatch::changed(sd_bus_message*, void* self, sd_bus_error*) {
  static_cast<StatusNotifierHostWatch*>(self)->ask();
  return 0;
}

int StatusNotifierHostWatch::answered(sd_bus_message* message, void* self, sd_bus_error*) {
  auto* watch = static_cast<StatusNotifierHostWatch*>(self);
  watch->pendingCall_.reset();
  // No watcher (an error from the bus), or a watcher that does not say: no host.
  bool present = false;
  if (!sd_bus_message_is_method_error(message, nullptr)) {
    const auto values = readBusValues(message);
    if (values && !values->empty()) present = (*values)[0].asBool().value_or(false);
  }
  watch->set(present);
  return 0;
}

void StatusNotifierHostWatch::set(bool present) {
  if (present_ == present) return;
  present_ = present;
  if (observer_) observer_(present);
}

}  // namespace zv::platform
