// Whether the desktop can show the agent's tray icon, and what the user is told when it
// cannot. Qt decides once, when its first tray icon is made, whether the desktop shows
// status-notifier icons, and never looks again; so the tray makes its icon only once a
// status-notifier host is there, which this object follows on the session bus
// (StatusNotifierHostWatch).
//
// Where no host appears within a short grace (GNOME Shell without a status-icon
// extension; at login the host may come a moment after the agent), the user is told
// once, as a desktop notification, how to get one and how to switch profiles meanwhile.
// The icon appears as soon as a host does.
//
// Threads: the main thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "log/Log.h"
#include "platform/RunLoop.h"
#include "platform/linux/StatusNotifierHostWatch.h"

namespace zv::agent {

class TrayHost {
 public:
  static constexpr std::chrono::milliseconds kGrace{5000};

  // Follows the hosts on `bus`; `changed` is called on the main loop whenever present()
  // changes (also for the first answer).
  static base::Result<std::unique_ptr<TrayHost>> open(std::unique_ptr<platform::BusConnection> bus,
                                                      std::function<void()> changed,
                                                      std::chrono::milliseconds grace = kGrace);
  ~TrayHost();
  TrayHost(const TrayHost&) = delete;
  TrayHost& operator=(const TrayHost&) = delete;

  // Whether a status-notifier host shows icons; nothing until the first answer.
  std::optional<bool> present() const { return watch_->hostPresent(); }
  // The tray shows its icon another way (an X11 system tray): no notice is needed.
  void shownOtherwise();
  // Whether the notice was given.
  bool noticeGiven() const { return noticeGiven_; }

  // What the notice says (also written to the log).
  static const char* noticeSummary();
  static const char* noticeBody();

 private:
  TrayHost() = default;
  void onChange(bool present);
  void giveNotice();

  std::unique_ptr<platform::StatusNotifierHostWatch> watch_;
  std::function<void()> changed_;
  platform::RunLoop::TimerId grace_ = 0;
  bool shownOtherwise_ = false;
  bool noticeGiven_ = false;
  log::LogOnce logged_;
};

}  // namespace zv::agent
