// The focused application under GNOME Shell (Wayland and X11). GNOME Shell tells other
// programs nothing about its windows, so a small extension of ours runs inside it (the
// package installs it system-wide, the agent or `kinetra desktop enable` enables it for
// the user): it exports GetFocus() and sends the signal FocusChanged(pid, executable,
// name) on the session bus whenever the focused window changes. This provider listens to
// that signal and asks GetFocus() when it opens and whenever GNOME Shell (re)appears on
// the bus.
//
// Reports are accepted only from the connection that owns GNOME Shell's bus name; the
// executable is found through /proc like every other provider's, the extension's own
// answer serving only when /proc does not tell (a process of another user).
//
// Threads: the loop's thread.
#pragma once

#include <memory>
#include <string>

#include "base/Result.h"
#include "platform/FrontmostApplication.h"
#include "platform/linux/BusConnection.h"
#include "platform/linux/BusValues.h"

namespace zv::platform {

inline constexpr const char* kGnomeShellName = "org.gnome.Shell";

class GnomeShellFrontmostApplication : public FrontmostApplication {
 public:
  // Listens on `bus` (the session bus). Fails only when the bus refuses the matches;
  // whether the extension answers is known later (waitingFor()).
  static base::Result<std::unique_ptr<GnomeShellFrontmostApplication>> open(
      std::unique_ptr<BusConnection> bus, ExecutableLookup lookup = executableOfProcess);
  ~GnomeShellFrontmostApplication() override;

  std::string_view providerName() const override { return "GNOME Shell"; }
  std::string waitingFor() const override { return waitingFor_; }

 private:
  GnomeShellFrontmostApplication(std::unique_ptr<BusConnection> bus, ExecutableLookup lookup)
      : bus_(std::move(bus)), lookup_(std::move(lookup)) {}
  void askFocus();
  void onFocusReply(sd_bus_message* reply);
  void onFocusChanged(sd_bus_message* signal);
  void onOwnerChanged(sd_bus_message* signal);
  void reportValues(sd_bus_message* message);

  static int focusReply(sd_bus_message* message, void* self, sd_bus_error*);
  static int focusChanged(sd_bus_message* message, void* self, sd_bus_error*);
  static int ownerChanged(sd_bus_message* message, void* self, sd_bus_error*);

  std::unique_ptr<BusConnection> bus_;
  ExecutableLookup lookup_;
  BusSlot focusSignal_;
  BusSlot ownerSignal_;
  BusSlot pendingCall_;
  // The unique name of GNOME Shell's connection, once known.
  std::string shell_;
  std::string waitingFor_;
};

}  // namespace zv::platform
