#include "SystemGuest.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/input.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "DemoMouse.h"
#include "DriverRun.h"
#include "KeyboardState.h"
#include "PollUntil.h"
#include "output/UinputOutput.h"
#include "protocol/UserClientConnection.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr std::uint16_t kButton4 = 0x0008;
// What the default profile makes of button 4.
constexpr std::uint16_t kProfileKey = KEY_PAGEDOWN;

// The socket a driver serves for `deviceId` in the services folder, if there is one.
std::string socketOf(const std::string& deviceId) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(kSystemServices, error)) {
    const std::string name = entry.path().filename().string();
    const std::string suffix = "@" + deviceId;
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        entry.is_socket(error)) {
      return entry.path().string();
    }
  }
  return {};
}

}  // namespace

std::string SystemGuest::must(const std::vector<std::string>& argv, int bounds) {
  return expectCommand(argv, bound() * bounds);
}

std::string SystemGuest::unitState(const std::string& unit, const GuestUser* user) {
  std::vector<std::string> argv = {"systemctl"};
  if (user) argv.push_back("--user");
  argv.insert(argv.end(), {"is-active", unit});
  if (user) argv = asUser(*user, argv);
  const CommandResult result = runCommand(argv, bound());
  std::string state = result.output;
  while (!state.empty() && (state.back() == '\n' || state.back() == ' ')) state.pop_back();
  return state;
}

ProcessInfo SystemGuest::agentOf(const GuestUser& user) const {
  std::vector<ProcessInfo> mine;
  for (const auto& process : processesNamed("perch")) {
    if (process.uid == user.uid) mine.push_back(process);
  }
  expect(mine.size() == 1,
         std::to_string(mine.size()) + " perch processes of " + user.name + " run (one expected)");
  return mine.front();
}

// Looked at every few tens of milliseconds: a walk over sysfs costs the emulated CPU more
// than the wait it would shorten.
std::optional<HidDeviceInfo> waitForDevice(const HidDeviceMatch& match,
                                           std::chrono::milliseconds bound) {
  std::optional<HidDeviceInfo> found;
  pollUntil(
      [&] {
        for (auto& info : listHidDevices()) {
          if (!match(info) || info.driver.empty() || info.hidraw.empty() || info.evdev.empty())
            continue;
          std::error_code error;
          const bool nodes = std::all_of(info.hidraw.begin(), info.hidraw.end(),
                                         [&](const std::string& node) {
                                           return fs::exists(node, error);
                                         }) &&
                             std::all_of(info.evdev.begin(), info.evdev.end(),
                                         [&](const std::string& node) {
                                           return fs::exists(node, error);
                                         });
          if (nodes) {
            found = std::move(info);
            return true;
          }
        }
        return false;
      },
      bound);
  return found;
}

void SystemGuest::plugAndWaitForDriver(bool askSystemd) {
  std::string problem;
  if (!session.usbMouse) {
    session.usbMouse = UsbGadgetMouse::create(usbDemoMouseSetup(kUsbMouseUniq), &problem);
    expect(session.usbMouse != nullptr, "plugging the USB mouse in: " + problem);
  } else {
    expect(session.usbMouse->plugIn(&problem), "plugging the USB mouse in again: " + problem);
  }
  const auto info = waitForDevice(matchHidDevice(kDemoVendor, kDemoProduct, kUsbMouseUniq),
                                  bound() * 2);
  expect(info.has_value(), "the kernel made no hidraw and evdev nodes for the USB mouse");
  session.usbMouseInfo = *info;
  deviceId = fs::path(info->hidraw.front()).filename().string();
  const std::string unit = "zenvor-driver@" + deviceId + ".service";
  // The socket appears once the driver is ready; systemd is asked only then (and only
  // when asked to: each systemctl costs the emulated CPU more than the driver's start).
  expect(pollUntil([&] { return !socketOf(deviceId).empty(); }, bound() * 4),
         "udev did not start " + unit + ", or it serves no socket in " + kSystemServices +
             " (it is " + unitState(unit) + ")");
  if (askSystemd) {
    const std::string state = unitState(unit);
    expect(state == "active", unit + " serves its socket but is " + state);
  }
  expect(waitForDevice(isPresented, bound()).has_value(), unit + " presents no mouse");
}

void SystemGuest::unplugAndWaitForNoDriver() {
  std::string problem;
  expect(session.usbMouse && session.usbMouse->unplug(&problem),
         "unplugging the USB mouse: " + problem);
  expect(pollUntil([&] { return drivers().empty(); }, bound() * 2, milliseconds(50)),
         std::to_string(drivers().size()) + " zenvor-driver still run after the unplug");
}

void SystemGuest::waitForAgentTakeover() {
  expect(record != nullptr, "the agent's record is not followed");
  // The driver answers each button the agent takes over with the button's state.
  expect(record->waitForInOrder({" connected", "event 0x90004 0"}, bound() * 4),
         "perch did not connect to " + deviceId +
             " and take button 4 over; its record "
             "since the plug-in:" +
             lastLines(record->sinceMark(), 8));
  record->mark();
}

void SystemGuest::pressBecomesKey(bool unplugWhileHeld) {
  if (keyboard.empty()) {
    const auto nodes = inputNodesNamed(zv::output::virtualKeyboardSetup().name);
    expect(nodes.size() == 1, std::to_string(nodes.size()) +
                                  " virtual keyboards of the suite exist (the agent's only "
                                  "expected)");
    keyboard = *nodes.begin();
  }
  auto reader = session.openReader(keyboard);
  session.sendUsb({kButton4, 0, 0, 0});
  expectKey(session, *reader, kProfileKey, 1, "button 4 pressed");
  if (unplugWhileHeld) {
    unplugAndWaitForNoDriver();
    expectKey(session, *reader, kProfileKey, 0, "the unplug with button 4 held");
  } else {
    session.sendUsb({});
    expectKey(session, *reader, kProfileKey, 0, "button 4 released");
  }
  const auto down = keysDown(keyboard);
  expect(down.empty(), keyboard + " still holds " + describeKeys(down));
}

std::uint32_t runAs(uid_t uid, const std::function<std::uint32_t()>& body) {
  int channel[2];
  expect(::pipe2(channel, O_CLOEXEC) == 0, std::string("pipe: ") + std::strerror(errno));
  const pid_t child = ::fork();
  expect(child >= 0, std::string("fork: ") + std::strerror(errno));
  if (child == 0) {
    // The user's own ids, without root's supplementary groups.
    if (::setgroups(0, nullptr) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0) {
      const std::uint32_t result = body();
      [[maybe_unused]] const ssize_t written = ::write(channel[1], &result, sizeof result);
    }
    ::_exit(0);
  }
  ::close(channel[1]);
  std::uint32_t result = 0;
  const ssize_t got = ::read(channel[0], &result, sizeof result);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  expect(got == sizeof result, "the child process could not become uid " + std::to_string(uid));
  return result;
}

std::uint32_t SystemGuest::greetingFor(uid_t uid) {
  const std::string socket = socketOf(deviceId);
  expect(!socket.empty(), "no driver serves " + deviceId);
  return runAs(uid, [&] {
    zv::userclient::UserClientConnection connection;
    std::string error;
    return connection.open(socket, &error);
  });
}

}  // namespace zv::vmtest
