#include "DriverRun.h"

#include <linux/input.h>
#include <sys/wait.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>

#include "Wait.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;

const char* const kDriverLog = "/tmp/zenvor-driver.log";

// The daemon logs to syslog when its standard error is not a terminal.
std::string driverSyslog() {
  std::ifstream in("/tmp/syslog");
  std::deque<std::string> tail;
  for (std::string line; std::getline(in, line);) {
    if (line.find("zenvor-driver") == std::string::npos) continue;
    tail.push_back(line);
    if (tail.size() > 15) tail.pop_front();
  }
  std::string text;
  for (const auto& line : tail) text += "\n    | " + line;
  return text;
}

std::string findSocket(const std::string& deviceId) {
  std::error_code error;
  for (fs::directory_iterator it(kServicesFolder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.ends_with("@" + deviceId)) return it->path().string();
  }
  return {};
}

}  // namespace

std::string daemonSaid(testing::ChildProcess& daemon) {
  return daemon.outputTail() + driverSyslog();
}

bool isPresented(const HidDeviceInfo& info) {
  return info.underUhid && info.vendor == kDemoVendor && info.product == kDemoProduct &&
         info.uniq != kUhidMouseUniq;
}

void startDriver(GuestSession& session, DriverRun& run) {
  startDriverOn(session, session.usbMouseInfo, isPresented, run);
}

void startDriverOn(GuestSession& session, const HidDeviceInfo& device,
                   const HidDeviceMatch& isPresentedMouse, DriverRun& run) {
  expect(!device.hidraw.empty(), device.sysfsPath + " has no hidraw node");
  const std::string hidraw = device.hidraw.front();
  run.deviceId = fs::path(hidraw).filename().string();
  run.daemon = session.start(
      {session.program("zenvor-driver"), "--hidraw", hidraw, "--services", kServicesFolder},
      kDriverLog);
  std::optional<HidDeviceInfo> presented;
  waitUntil(
      [&] {
        if (!run.daemon->running()) return true;
        run.socket = findSocket(run.deviceId);
        presented = waitForHidDevice(isPresentedMouse, std::chrono::milliseconds(0));
        return presented.has_value() && !run.socket.empty();
      },
      session.options.bound * 4);
  if (const auto status = run.daemon->wait(std::chrono::milliseconds(0))) {
    throw CheckFailed("zenvor-driver " + testing::ChildProcess::describeStatus(*status) +
                      daemonSaid(*run.daemon));
  }
  expect(presented.has_value(),
         "zenvor-driver presented no mouse through uhid" + daemonSaid(*run.daemon));
  expect(!run.socket.empty(), "zenvor-driver serves no socket for " + run.deviceId + " in " +
                                  kServicesFolder + daemonSaid(*run.daemon));
  run.presented = *presented;
  run.presentedEvdev = session.pointerNode(*presented);
}

// `kinetra driver --services DIR ARGS...`, which must succeed.
std::string kinetraDriver(GuestSession& session, std::vector<std::string> args) {
  std::vector<std::string> argv = {session.program("kinetra"), "driver", "--services",
                                   kServicesFolder};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string command;
  for (std::size_t i = 1; i < argv.size(); ++i) command += (i > 1 ? " " : "") + argv[i];
  auto child = session.start(argv, "/tmp/kinetra-driver.log");
  const auto status = child->wait(session.options.bound * 4);
  expect(status.has_value(), "kinetra " + command + " did not end" + child->outputTail());
  expect(WIFEXITED(*status) && WEXITSTATUS(*status) == 0,
         "kinetra " + command + " " + testing::ChildProcess::describeStatus(*status) + child->outputTail());
  return child->output();
}

// A client that prints the element events it gets, connected before this returns.
std::unique_ptr<testing::ChildProcess> listenForEvents(GuestSession& session, const DriverRun& run,
                                                       int count) {
  auto child = session.start({session.program("kinetra"), "driver", "--services", kServicesFolder,
                              "events", run.deviceId, "--count", std::to_string(count),
                              "--seconds", "60"},
                             "/tmp/kinetra-events.log");
  expect(child->waitForOutput("listening for element events", session.options.bound * 4),
         "kinetra driver events did not connect" + child->outputTail());
  return child;
}

void expectEvents(GuestSession& session, testing::ChildProcess& listener,
                  const std::vector<std::string>& events) {
  for (const std::string& event : events) {
    expect(listener.waitForOutput(event, session.options.bound),
           "the client did not get '" + event + "'" + listener.outputTail());
  }
}

// A press of a hidden button followed by motion: the presented device's first frame after
// it must be the motion alone (events reach a reader in order).
void expectButtonHidden(GuestSession& session, EvdevReader& reader, int button) {
  const auto mask = static_cast<std::uint16_t>(1u << (button - 1));
  const auto code = static_cast<std::uint16_t>(BTN_MOUSE + button - 1);
  session.sendUsb({mask, 0, 0, 0});
  session.sendUsb({mask, 11, 0, 0});
  const std::string what = "button " + std::to_string(button) + " held, then motion";
  const EvdevFrame frame = session.expectFrame(reader, what);
  expect(!frame.value(EV_KEY, code).has_value(), "button " + std::to_string(button) +
                                                     " reached the presented mouse (" +
                                                     frame.describe() + ")");
  session.expectValue(frame, EV_REL, REL_X, 11, what);
  session.sendUsb({});
}

void plugUsbMouseAgain(GuestSession& session) {
  std::string problem;
  expect(session.usbMouse->plugIn(&problem), "plugging the USB mouse in again: " + problem);
  auto info = waitForHidDevice(matchHidDevice(kDemoVendor, kDemoProduct, kUsbMouseUniq),
                               session.options.bound * 2);
  expect(info.has_value(), "the USB mouse did not come back after plugging it in again");
  session.usbMouseInfo = *info;
  session.usbMouseEvdev = session.pointerNode(*info);
}

}  // namespace zv::vmtest
