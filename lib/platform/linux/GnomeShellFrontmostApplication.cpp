#include "platform/linux/GnomeShellFrontmostApplication.h"

#include <cstring>

namespace zv::platform {

namespace {

constexpr const char* kNotEnabled =
    "GNOME Shell does not answer for the Kinetra focus extension: enable it with 'kinetra "
    "desktop enable' (it comes with the package; on GNOME Shell it is the only way to know "
    "which application has the focus)";

}  // namespace

base::Result<std::unique_ptr<GnomeShellFrontmostApplication>> GnomeShellFrontmostApplication::open(
    std::unique_ptr<BusConnection> bus, ExecutableLookup lookup) {
  std::unique_ptr<GnomeShellFrontmostApplication> provider(
      new GnomeShellFrontmostApplication(std::move(bus), std::move(lookup)));
  GnomeShellFrontmostApplication* p = provider.get();
  sd_bus* connection = p->bus_->bus();
  sd_bus_slot* slot = nullptr;
  // Matched by path, interface and member only: the sender is checked against GNOME
  // Shell's unique name when a signal arrives.
  int r = sd_bus_match_signal_async(connection, &slot, nullptr, kFocusObjectPath, kFocusInterface,
                                    "FocusChanged", focusChanged, nullptr, p);
  if (r < 0) return busFailure(nullptr, r, "cannot listen for GNOME Shell's focus reports");
  p->focusSignal_.reset(slot);
  auto owner = p->bus_->followOwner(kGnomeShellName, ownerChanged, p);
  if (!owner) return owner.failure();
  p->ownerSignal_ = std::move(*owner);
  p->bus_->setBrokenHandler([p] { p->setDisconnected("the session bus went away"); });
  p->askFocus();
  return provider;
}

GnomeShellFrontmostApplication::~GnomeShellFrontmostApplication() {
  // The slots go before the connection.
  pendingCall_.reset();
  focusSignal_.reset();
  ownerSignal_.reset();
}

void GnomeShellFrontmostApplication::askFocus() {
  auto call = bus_->callAsync(kGnomeShellName, kFocusObjectPath, kFocusInterface, "GetFocus", {},
                              focusReply, this);
  if (!call) {
    waitingFor_ = kNotEnabled;
    return;
  }
  pendingCall_ = std::move(*call);
}

int GnomeShellFrontmostApplication::focusReply(sd_bus_message* message, void* self, sd_bus_error*) {
  static_cast<GnomeShellFrontmostApplication*>(self)->onFocusReply(message);
  return 0;
}

int GnomeShellFrontmostApplication::focusChanged(sd_bus_message* message, void* self,
                                                 sd_bus_error*) {
  static_cast<GnomeShellFrontmostApplication*>(self)->onFocusChanged(message);
  return 0;
}

int GnomeShellFrontmostApplication::ownerChanged(sd_bus_message* message, void* self,
                                                 sd_bus_error*) {
  static_cast<GnomeShellFrontmostApplication*>(self)->onOwnerChanged(message);
  return 0;
}

void GnomeShellFrontmostApplication::onFocusReply(sd_bus_message* reply) {
  pendingCall_.reset();
  // An answer of the shell's own, also an error: it tells the shell's unique name. An
  // error of the bus itself (no such name) does not.
  const char* sender = sd_bus_message_get_sender(reply);
  if (sender && std::strcmp(sender, "org.freedesktop.DBus") != 0) shell_ = sender;
  if (sd_bus_message_is_method_error(reply, nullptr)) {
    // No shell, or no extension in it: its first signal will say when it is there.
    waitingFor_ = kNotEnabled;
    return;
  }
  reportValues(reply);
}

void GnomeShellFrontmostApplication::onFocusChanged(sd_bus_message* signal) {
  const char* sender = sd_bus_message_get_sender(signal);
  if (!sender) return;
  if (shell_.empty()) {
    // The shell appeared before its name was learnt: ask the bus who owns the name now.
    auto owner = bus_->call(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
        [](sd_bus_message* m) { return sd_bus_message_append(m, "s", kGnomeShellName); });
    const char* name = nullptr;
    if (owner && sd_bus_message_read(owner->get(), "s", &name) > 0 && name) shell_ = name;
  }
  if (shell_ != sender) return;
  reportValues(signal);
}

void GnomeShellFrontmostApplication::onOwnerChanged(sd_bus_message* signal) {
  const auto owner = BusConnection::newOwner(signal, kGnomeShellName);
  if (!owner) return;
  shell_ = *owner;
  if (shell_.empty()) {
    waitingFor_ = "GNOME Shell is not running";
    return;
  }
  // A restarted shell enables its extensions again: its first signal, or the answer
  // below, tells the focus.
  askFocus();
}

void GnomeShellFrontmostApplication::reportValues(sd_bus_message* message) {
  const auto values = readBusValues(message);
  if (!values) return;
  const auto focus = focusReportFromValues(*values, true);
  if (!focus) return;
  waitingFor_.clear();
  FocusedApplication application = applicationOfProcess(focus->pid, focus->name, lookup_);
  if (application.executable.empty() && focus->pid > 0) application.executable = focus->executable;
  report(application);
}

}  // namespace zv::platform
