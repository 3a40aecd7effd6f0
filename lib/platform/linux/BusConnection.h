// A connection to the user's session bus, driven by a run loop: the desktop focus
// providers of GNOME Shell and KWin, the tray-host watch and desktop notifications talk
// over it. sd-bus speaks the protocol; this class watches its descriptor and its next
// timeout on the loop, so replies, signals and method calls are handled there as they
// arrive. Nothing polls.
//
// Threads: the thread of the loop it was opened on.
#pragma once

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "platform/RunLoop.h"

namespace zv::platform {

// Owns one sd-bus slot (a match, an object, a pending call); dropping it removes it.
struct BusSlotRelease {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using BusSlot = std::unique_ptr<sd_bus_slot, BusSlotRelease>;

// Owns one message reference.
struct BusMessageRelease {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusMessagePtr = std::unique_ptr<sd_bus_message, BusMessageRelease>;

// The failure of a D-Bus call or message: its error name (a failed call's D-Bus error,
// for example org.freedesktop.DBus.Error.ServiceUnknown) and message.
inline constexpr const char* kBusDomain = "D-Bus";
base::Failure busFailure(const sd_bus_error* error, int result, std::string_view context);

class BusConnection {
 public:
  // The session bus: $DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus.
  static base::Result<std::unique_ptr<BusConnection>> openSession(RunLoop& loop);
  // The bus at `address` ("unix:path=/run/user/1000/bus"), as a client of that bus.
  static base::Result<std::unique_ptr<BusConnection>> open(RunLoop& loop,
                                                           const std::string& address);
  // Sends what is still queued, then closes.
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  sd_bus* bus() const { return bus_; }
  RunLoop& loop() const { return loop_; }
  // This connection's unique name on the bus (":1.42").
  std::string uniqueName() const;

  // Call after queueing messages or starting calls without waiting (and after a call
  // that waited): writes out what is queued, arms the timeouts of pending calls and
  // dispatches what arrived meanwhile.
  void update();

  // Whether the bus is still there; false once the connection broke.
  bool connected() const { return connected_; }
  // Called once when the connection breaks (the bus went away).
  void setBrokenHandler(std::function<void()> handler) { broken_ = std::move(handler); }

  // Starts a method call; `onReply` (an sd-bus message handler, called with `userdata`)
  // gets the reply, or an error reply when the call fails or `timeoutUsec` passes. The
  // call is cancelled when the answered slot is dropped.
  base::Result<BusSlot> callAsync(const char* destination, const char* path, const char* interface,
                                  const char* member,
                                  const std::function<int(sd_bus_message*)>& append,
                                  sd_bus_message_handler_t onReply, void* userdata,
                                  std::uint64_t timeoutUsec = 5'000'000);

  // Calls `handler` (with `userdata`) whenever the owner of the bus name `name` changes:
  // the signal NameOwnerChanged of the bus, read with newOwner().
  base::Result<BusSlot> followOwner(const char* name, sd_bus_message_handler_t handler,
                                    void* userdata);
  // From a NameOwnerChanged signal about `name`: its new owner's unique name, empty when
  // the name has gone; nothing for a signal about another name or one that makes no sense.
  static std::optional<std::string> newOwner(sd_bus_message* signal, std::string_view name);

  // A synchronous method call with a short timeout (for the few calls an operation must
  // wait for, such as at the end of a process). The arguments are appended by `append`
  // (none when empty). Answers the reply or the failure.
  base::Result<BusMessagePtr> call(const char* destination, const char* path, const char* interface,
                                   const char* member,
                                   const std::function<int(sd_bus_message*)>& append = {},
                                   std::uint64_t timeoutUsec = 2'000'000);

 private:
  BusConnection(RunLoop& loop, sd_bus* bus);
  static base::Result<std::unique_ptr<BusConnection>> attach(RunLoop& loop, sd_bus* bus);
  void process();
  void watch(std::uint32_t events);
  void markBroken();

  RunLoop& loop_;
  sd_bus* bus_;
  RunLoop::WatchId watch_ = 0;
  std::uint32_t watchedEvents_ = 0;
  RunLoop::TimerId timer_ = 0;
  std::uint64_t timerFor_ = 0;
  bool processing_ = false;
  bool connected_ = true;
  std::function<void()> broken_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zv::platform
