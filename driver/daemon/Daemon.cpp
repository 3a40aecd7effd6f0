#include "daemon/Daemon.h"

#include <signal.h>
#include <systemd/sd-daemon.h>

#include "daemon/DriverLog.h"

namespace zv::driver {

Daemon::Daemon(EventLoop& loop, ZenvorDriver& driver, AccessRule& access)
    : loop_(loop), driver_(driver), server_(loop, driver, access) {
  driver_.setUnplugHandler([this] { shutdown("the mouse went away"); });
}

Daemon::~Daemon() {
  shutdown("the driver object goes away");
}

void Daemon::handleSignals() {
  loop_.watchSignals({SIGTERM, SIGINT},
                     [this](int signal) { shutdown(signal == SIGTERM ? "SIGTERM" : "SIGINT"); });
}

bool Daemon::start(const std::string& folder, const std::string& deviceId, std::string* error) {
  if (!driver_.start(error)) return false;
  if (!server_.listen(folder, deviceId, error)) {
    driver_.stop();
    return false;
  }
  driverLog(LOG_INFO, "serving %s\n", server_.path().c_str());
  sd_notifyf(0, "READY=1\nSTATUS=serving %s", server_.path().c_str());
  if (readyHandler_) readyHandler_(server_.path());
  return true;
}

int Daemon::run() {
  loop_.run();
  shutdown("the loop ended");
  return 0;
}

void Daemon::shutdown(const char* why) {
  if (down_) return;
  down_ = true;
  driverLog(LOG_INFO, "shutting down: %s\n", why);
  sd_notify(0, "STOPPING=1");
  server_.closeAll();
  driver_.stop();
  loop_.stop();
}

void reportNothingToDrive(const std::string& why) {
  driverLog(LOG_INFO, "%s\n", why.c_str());
  sd_notifyf(0, "READY=1\nSTATUS=%s", why.c_str());
  // The notice must reach systemd before this process ends, or it counts for nothing.
  sd_notify_barrier(0, 5'000'000);
}

}  // namespace zv::driver
