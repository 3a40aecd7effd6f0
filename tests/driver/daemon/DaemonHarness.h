// A zenvor-driver in the test process: the real daemon code (driver, socket server, methods)
// on fakes of hidraw, uhid, the grab, USB and the seats, serving a real socket in a fresh
// folder. Its loop runs on a thread of its own; the test thread plays the mouse (reports
// through the fake hidraw), the system (uhid requests) and the clients (real socket
// connections).
//
// Waiting is by condition with a generous bound (waitFor); nothing sleeps a fixed time.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "daemon/AccessRule.h"
#include "daemon/Daemon.h"
#include "daemon/DriverLog.h"
#include "daemon/EventLoop.h"
#include "fakes/FakeHidraw.h"
#include "fakes/FakeInputGrab.h"
#include "fakes/FakeSeatSessions.h"
#include "fakes/FakeUhid.h"
#include "fakes/FakeUsbControl.h"
#include "protocol/UserClientConnection.h"

namespace zv::driver::testing {

// Until pred() holds or `bound` passed (then one last look). The bound is a safety net only.
bool waitFor(const std::function<bool()>& pred,
             std::chrono::milliseconds bound = std::chrono::seconds(20));

// A folder only this test uses, removed at the end; readable by every user (so that a
// client running as another uid reaches the socket).
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Collects the driver's log while it lives.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::vector<std::string> lines() const;
  bool contains(const std::string& text) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

struct HarnessOptions {
  std::uint16_t product = 0x1704;             // type 1: 7-byte reports, buttons 9-11 overridden
  std::vector<std::uint8_t> descriptor = {};  // empty: the built-in one of the product's type
  std::uint16_t bus = kBusUSB;
  std::vector<std::string> evdevNodes = {"/dev/input/event7", "/dev/input/event8"};
  DeviceWorker::Mode worker = DeviceWorker::Mode::thread;
  bool start = true;  // start and serve in the constructor
};

class DaemonHarness {
 public:
  explicit DaemonHarness(HarnessOptions options = {});
  ~DaemonHarness();

  // Starts the driver and the socket (on the loop thread) and then runs the loop until
  // shutdown. Answers whether it started; *error says why not.
  bool start(std::string* error = nullptr);

  // Runs f on the daemon's loop thread and answers its result.
  template <typename F>
  auto onLoop(F f) -> decltype(f()) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    loop.post([&task] { task(); });
    return result.get();
  }

  // An open connection (asserting it opened).
  std::unique_ptr<userclient::UserClientConnection> connect();
  // Connected and registered for events with `reference`.
  std::unique_ptr<userclient::UserClientConnection> listener(std::uint64_t reference = 0);

  // Sends a report and waits until the driver passed it on to uhid.
  void report(const std::vector<std::uint8_t>& bytes);
  // The rewritten reports (and synthetic ones) uhid received so far.
  std::vector<std::vector<std::uint8_t>> inputs() const { return uhid.inputs(); }

  std::size_t clientCount();
  std::size_t handlerClientCount();
  bool finished() const { return finished_.load(); }
  int exitStatus() const { return exitStatus_.load(); }
  const std::string& socketPath() const { return path_; }
  const std::string& servicesFolder() const { return folder_.path(); }

  LogCapture log;
  ScratchFolder folder_;
  FakeHidraw hidraw;
  FakeUhid uhid;
  FakeUsbControl usb;
  FakeInputGrab grab;
  FakeSeatSessions seats;
  EventLoop loop;
  AccessRule access;
  std::unique_ptr<ZenvorDriver> driver;
  std::unique_ptr<Daemon> daemon;

 private:
  std::string path_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::atomic<int> exitStatus_{-1};
};

// One element event as a test compares it.
struct Event {
  std::uint32_t element;
  std::uint64_t value;
  bool operator==(const Event&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Event& e);

// Every completion the connection holds or receives until a round trip (a call of method 0)
// shows that nothing sent before is still on its way.
std::vector<Event> drainEvents(userclient::UserClientConnection& c);

// A raw call: any counts.
std::optional<userclient::Reply> rawCall(userclient::UserClientConnection& c, std::uint32_t method,
                                         std::vector<std::uint64_t> scalars,
                                         std::vector<std::uint8_t> structure,
                                         std::uint32_t scalarsOut, std::uint32_t structOut);
// A call with the method's own shape.
std::optional<userclient::Reply> call(userclient::UserClientConnection& c, std::uint32_t method,
                                      std::vector<std::uint64_t> scalars = {},
                                      std::vector<std::uint8_t> structure = {});

}  // namespace zv::driver::testing
