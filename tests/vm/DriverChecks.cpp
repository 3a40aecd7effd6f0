#include "DriverChecks.h"

#include <linux/input.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "DriverRun.h"
#include "Latency.h"
#include "PointerBehaviour.h"
#include "Wait.h"
#include "testing/ChildProcess.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string adoptMouse(GuestSession& session, DriverRun& run) {
  startDriver(session, run);
  return "presented as " + fs::path(run.presented.sysfsPath).filename().string() + " " +
         run.presentedEvdev + ", socket " + run.socket;
}

std::string grabsMouse(GuestSession& session, DriverRun&) {
  for (const std::string& node : session.usbMouseInfo.evdev) {
    auto reader = session.openReader(node);
    const int error = reader->grab(true);
    if (error == 0) reader->grab(false);
    expect(error == EBUSY, node + " of the USB mouse is not grabbed (EVIOCGRAB answered " +
                               std::string(error ? std::strerror(error) : "success") + ")");
  }
  return std::to_string(session.usbMouseInfo.evdev.size()) + " evdev node(s) grabbed";
}

std::string movesAndClicks(GuestSession& session, DriverRun& run) {
  auto reader = session.openReader(run.presentedEvdev);
  const SendReport send = [&](const MouseInput& input) { session.sendUsb(input); };
  const std::string motion = expectMotion(session, *reader, send);
  const std::string buttons = expectButtons(session, *reader, send);
  const std::string wheel = expectWheel(session, *reader, send);
  return motion + "; " + buttons + "; " + wheel;
}

std::string typeOverride(GuestSession& session, DriverRun& run) {
  // Buttons 9 to 11 of this device type are taken over from the start.
  auto reader = session.openReader(run.presentedEvdev);
  auto listener = listenForEvents(session, run, 2);
  expectButtonHidden(session, *reader, 9);
  expectEvents(session, *listener, {"event 0x90009 1", "event 0x90009 0"});
  return "button 9 hidden, its press and release reached the client";
}

std::string clientOverride(GuestSession& session, DriverRun& run) {
  auto reader = session.openReader(run.presentedEvdev);
  kinetraDriver(session, {"override", run.deviceId, "0x90004", "1"});
  auto listener = listenForEvents(session, run, 2);
  expectButtonHidden(session, *reader, 4);
  expectEvents(session, *listener, {"event 0x90004 1", "event 0x90004 0"});
  kinetraDriver(session, {"override", run.deviceId, "0x90004", "0"});
  session.sendUsb({0x0008, 0, 0, 0});
  session.expectValue(session.expectFrame(*reader, "button 4 given back"), EV_KEY, BTN_SIDE, 1,
                      "button 4 after the override ended");
  session.sendUsb({});
  session.expectFrame(*reader, "button 4 release");
  return "button 4 hidden while overridden, back afterwards";
}

std::string precisionAim(GuestSession& session, DriverRun& run) {
  // Button 6 is this type's precision-aim button, at 50 % until a client says otherwise.
  auto reader = session.openReader(run.presentedEvdev);
  const std::uint16_t held = 0x0020;
  auto expectMotionOf = [&](std::uint16_t buttons, std::int16_t dx, std::int16_t dy,
                            std::int32_t wantX, std::int32_t wantY, const std::string& what) {
    session.sendUsb({buttons, dx, dy, 0});
    const EvdevFrame frame = session.expectFrame(*reader, what);
    session.expectValue(frame, EV_REL, REL_X, wantX, what + ", REL_X");
    session.expectValue(frame, EV_REL, REL_Y, wantY, what + ", REL_Y");
  };
  session.sendUsb({held, 0, 0, 0});
  session.expectFrame(*reader, "precision button press");
  expectMotionOf(held, 100, -40, 50, -20, "motion at 50 %");
  kinetraDriver(session, {"precision", run.deviceId, "0", "25"});
  expectMotionOf(held, 100, -40, 25, -10, "motion at 25 %");
  session.sendUsb({});
  session.expectFrame(*reader, "precision button release");
  expectMotionOf(0, 100, -40, 100, -40, "motion after the release");
  kinetraDriver(session, {"precision", run.deviceId, "0", "50"});
  return "motion halved while held, quartered at 25 %, whole after the release";
}

std::string forcedButtons(GuestSession& session, DriverRun& run) {
  auto reader = session.openReader(run.presentedEvdev);
  kinetraDriver(session, {"buttons", run.deviceId, "0x2"});
  session.expectValue(session.expectFrame(*reader, "forcing button 2"), EV_KEY, BTN_RIGHT, 1,
                      "forced right button");
  kinetraDriver(session, {"buttons", run.deviceId, "0"});
  session.expectValue(session.expectFrame(*reader, "releasing the forced button"), EV_KEY,
                      BTN_RIGHT, 0, "forced right button released");
  return "button 2 pressed and released with no physical press";
}

std::string driverLatency(GuestSession& session, DriverRun& run) {
  const LatencySummary summary =
      session.measureMotionLatency(run.presentedEvdev, true, "usb-driver-evdev");
  return std::to_string(summary.count) + " reports through the daemon";
}

std::string killGivesMouseBack(GuestSession& session, DriverRun& run) {
  auto original = session.openReader(session.usbMouseEvdev);
  const std::string presentedPath = run.presented.sysfsPath;
  expect(run.daemon->signal(SIGKILL), "cannot signal zenvor-driver");
  expect(run.daemon->wait(session.options.bound).has_value(), "zenvor-driver outlived SIGKILL");
  expect(waitForHidDeviceGone(
             [&](const HidDeviceInfo& info) { return info.sysfsPath == presentedPath; },
             session.options.bound),
         "the presented mouse outlived its daemon");
  const int error = original->grab(true);
  expect(error == 0, "the USB mouse is still grabbed (" + std::string(std::strerror(error)) + ")");
  original->grab(false);
  session.sendUsb({0, 13, 0, 0});
  session.expectValue(session.expectFrame(*original, "motion after the kill"), EV_REL, REL_X, 13,
                      "the plain mouse");
  run.daemon.reset();
  return "presented mouse gone, grab released, the plain mouse moves";
}

std::string unplugEndsDriver(GuestSession& session, DriverRun& run) {
  startDriver(session, run);
  auto presented = session.openReader(run.presentedEvdev);
  // Held while the mouse goes away. The kernel releases whatever a vanishing input device
  // held, so the desktop is safe once the presented mouse is gone.
  session.sendUsb({0x0001, 0, 0, 0});
  session.expectValue(session.expectFrame(*presented, "left press"), EV_KEY, BTN_LEFT, 1,
                      "left press");
  std::string problem;
  expect(session.usbMouse->unplug(&problem), "unplugging the USB mouse: " + problem);
  const auto status = run.daemon->wait(session.options.bound * 2);
  expect(status.has_value(), "zenvor-driver still runs after the unplug" + daemonSaid(*run.daemon));
  expect(WIFEXITED(*status) && WEXITSTATUS(*status) == 0,
         "zenvor-driver " + testing::ChildProcess::describeStatus(*status) + " after the unplug" +
             daemonSaid(*run.daemon));
  while (presented->nextFrame(session.options.bound)) {
  }
  expect(presented->gone(), "the presented mouse outlived the unplug");
  expect(waitForHidDeviceGone(isPresented, session.options.bound),
         "the presented mouse is still in sysfs after its daemon ended");
  run.daemon.reset();

  // Plugged in again for the checks that follow.
  plugUsbMouseAgain(session);
  return "daemon exited with status 0, the presented mouse gone; mouse plugged in again";
}

}  // namespace

void addDriverChecks(GuestSession& session) {
  if (session.program("zenvor-driver").empty() || session.program("kinetra").empty()) return;
  auto run = std::make_shared<DriverRun>();
  auto bind = [&session, run](std::string (*body)(GuestSession&, DriverRun&)) {
    return [&session, run, body] { return body(session, *run); };
  };
  const std::string adopted = "driver-adopts-usb-mouse";
  CheckList& checks = session.checks;
  checks.add(adopted, bind(adoptMouse), {"usb-mouse-reports"});
  checks.add("driver-grabs-usb-mouse", bind(grabsMouse), {adopted});
  checks.add("driver-moves-and-clicks", bind(movesAndClicks), {adopted});
  checks.add("driver-type-override", bind(typeOverride), {adopted});
  checks.add("driver-client-override", bind(clientOverride), {adopted});
  checks.add("driver-precision-aim", bind(precisionAim), {adopted});
  checks.add("driver-forced-buttons", bind(forcedButtons), {adopted});
  checks.add("latency-usb-driver-evdev", bind(driverLatency), {"driver-moves-and-clicks"});
  checks.add("driver-sigkill", bind(killGivesMouseBack), {adopted});
  checks.add("driver-unplug", bind(unplugEndsDriver), {"driver-sigkill"});
}

}  // namespace zv::vmtest
