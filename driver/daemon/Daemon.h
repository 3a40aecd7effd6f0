// One zenvor-driver process: starts the driver, serves its socket and runs the loop until
// SIGTERM, SIGINT or the mouse going away; then closes the clients, removes the rewritten
// mouse, lets go of the grab, logs the unload message and answers exit status 0.
//
// Thread affinity: the loop's thread (construct it and run it on the main thread, before
// other threads start: it blocks SIGTERM and SIGINT for the signalfd).
#pragma once

#include <functional>
#include <string>

#include "daemon/AccessRule.h"
#include "daemon/EventLoop.h"
#include "daemon/UserClientServer.h"
#include "daemon/ZenvorDriver.h"

namespace zv::driver {

class Daemon {
 public:
  Daemon(EventLoop& loop, ZenvorDriver& driver, AccessRule& access);
  ~Daemon();

  // Starts the driver and serves "<folder>/<class>@<deviceId>"; then tells systemd (when it
  // started us) and the ready handler that the socket is served. Answers false with *error.
  bool start(const std::string& folder, const std::string& deviceId, std::string* error);
  // Dispatches until shutdown; answers the exit status.
  int run();
  // Shuts down (see the file comment) and ends run(). Idempotent.
  void shutdown(const char* why);

  // Called once the socket is served, with its path.
  void setReadyHandler(std::function<void(const std::string& path)> handler) {
    readyHandler_ = std::move(handler);
  }
  // Listens for SIGTERM and SIGINT (call before starting threads). Tests that run the daemon
  // in-process leave it out.
  void handleSignals();

  UserClientServer& server() { return server_; }

 private:
  EventLoop& loop_;
  ZenvorDriver& driver_;
  UserClientServer server_;
  std::function<void(const std::string&)> readyHandler_;
  bool down_ = false;
};

// For a driver that ends at once because its device is not one to drive (the mouse another
// driver presents, a keyboard interface): tells systemd the service was ready before it
// ends. A Type=notify service that ends without saying so has failed, and Restart= would
// start it again every second for as long as the device stays.
void reportNothingToDrive(const std::string& why);

}  // namespace zv::driver
