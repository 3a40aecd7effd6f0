// Whether the desktop shows status icons: a status-notifier host (the panel of Plasma,
// GNOME Shell's status-icon extension, waybar, …) has registered with the
// status-notifier watcher on the session bus. The watch asks once and then follows the
// watcher's signals and its coming and going, so it tells when a host appears (the user
// enables a status-icon extension) or goes.
//
// Threads: the thread of the connection's loop.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "base/Result.h"
#include "platform/linux/BusConnection.h"

namespace zv::platform {

class StatusNotifierHostWatch {
 public:
  // Called with the new answer whenever it changes (and with the first one).
  using Observer = std::function<void(bool hostPresent)>;

  static base::Result<std::unique_ptr<StatusNotifierHostWatch>> open(
      std::unique_ptr<BusConnection> bus, Observer observer);
  ~StatusNotifierHostWatch();
  StatusNotifierHostWatch(const StatusNotifierHostWatch&) = delete;
  StatusNotifierHostWatch& operator=(const StatusNotifierHostWatch&) = delete;

  // Nothing until the watcher (or the bus, for a missing watcher) has answered.
  std::optional<bool> hostPresent() const { return present_; }
  BusConnection& bus() { return *bus_; }

 private:
  StatusNotifierHostWatch(std::unique_ptr<BusConnection> bus, Observer observer)
      : bus_(std::move(bus)), observer_(std::move(observer)) {}
  void ask();
  void set(bool present);
  static int changed(sd_bus_message* message, void* self, sd_bus_error*);
  static int answered(sd_bus_message* message, void* self, sd_bus_error*);

  std::unique_ptr<BusConnection> bus_;
  Observer observer_;
  BusSlot watcherSignals_;
  BusSlot ownerSignal_;
  BusSlot pendingCall_;
  std::optional<bool> present_;
};

}  // namespace zv::platform
