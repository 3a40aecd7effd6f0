#include "AnyMouseChecks.h"

#include <linux/input.h>
#include <sys/wait.h>

#include <filesystem>
#include <memory>

#include "DriverRun.h"
#include "Wait.h"
#include "replay/DescriptorFile.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Identities no product of the suite has: these mice have no configuration.
constexpr std::uint16_t kOtherVendor = 0x1209;
constexpr std::uint16_t kGamingProduct = 0x6A4D;
constexpr std::uint16_t kBleProduct = 0xB1E0;
constexpr const char* kGamingUniq = "vmtest-gaming";
constexpr const char* kBleUniq = "vmtest-ble";
constexpr const char* kPresentedSuffix = " (zenvor-driver)";

struct AnyMice {
  std::unique_ptr<UsbGadgetMouse> gaming;
  HidDeviceInfo gamingInfo;
  DriverRun gamingRun;
  std::unique_ptr<UhidDevice> ble;
  DriverRun bleRun;
};

Bytes descriptorOf(GuestSession& session, const std::string& name) {
  std::string error;
  auto bytes = zv::driver::replay::readDescriptorFile(
      session.options.dataRoot + "/mice/" + name + ".hid", &error);
  expect(bytes.has_value(), error);
  return *bytes;
}

// The mouse a daemon presents for the device with this uniq: marked, through uhid.
HidDeviceMatch presentedFor(const std::string& uniq) {
  return [uniq](const HidDeviceInfo& info) {
    return info.underUhid && info.uniq == uniq && info.name.ends_with(kPresentedSuffix);
  };
}

// The evdev node of `device` that can report (type, code).
std::string nodeWith(GuestSession& session, const HidDeviceInfo& device, std::uint16_t type,
                     std::uint16_t code, const std::string& what) {
  for (const std::string& node : device.evdev) {
    if (session.openReader(node)->hasCode(type, code)) return node;
  }
  throw CheckFailed("no evdev node of " + device.sysfsPath + " reports " + what);
}

void sendGaming(GuestSession& session, AnyMice& mice, const Bytes& report) {
  std::string problem;
  expect(mice.gaming->sendInput(report, session.options.bound, &problem), problem);
}

std::string plugGamingMouse(GuestSession& session, AnyMice& mice) {
  UsbGadgetMouse::Setup setup;
  setup.name = "gaming";
  setup.vendor = kOtherVendor;
  setup.product = kGamingProduct;
  setup.manufacturer = "Vmtest";
  setup.productName = "Gaming Mouse";
  setup.serial = kGamingUniq;
  setup.descriptor = descriptorOf(session, "gaming-mouse");
  setup.reportLength = 9;
  // The wheel's multiplier is set with SET_REPORT, which the function must take.
  setup.setReportsByControl = true;
  std::string problem;
  mice.gaming = UsbGadgetMouse::create(setup, &problem);
  expect(mice.gaming != nullptr, problem);
  auto info = waitForHidDevice(matchHidDevice(kOtherVendor, kGamingProduct, kGamingUniq),
                               session.options.bound * 2);
  expect(info.has_value(),
         "the host made no HID device with hidraw and evdev nodes for the "
         "gaming mouse");
  expect(!info->underUhid && info->driver == "hid-generic",
         info->sysfsPath + " is not a USB device bound to hid-generic");
  mice.gamingInfo = *info;
  return info->name + ", " + std::to_string(info->evdev.size()) + " evdev nodes";
}

// Started on the gaming mouse as the udev rule of an adopted mouse starts it. The kernel
// sets the presented mouse's wheel multiplier through the daemon and the real mouse; had
// that failed, a notch would still be worth 120, not 120 / 8.
std::string driveGamingMouse(GuestSession& session, AnyMice& mice) {
  startDriverOn(session, mice.gamingInfo, presentedFor(kGamingUniq), mice.gamingRun);
  auto reader = session.openReader(mice.gamingRun.presentedEvdev);
  expect(reader->hasCode(EV_REL, REL_WHEEL_HI_RES), "the presented mouse has no REL_WHEEL_HI_RES");
  sendGaming(session, mice, {0x01, 0, 0, 0, 0, 0, 0, 0x01, 0});
  const EvdevFrame frame = session.expectFrame(*reader, "one step of the wheel");
  session.expectValue(frame, EV_REL, REL_WHEEL_HI_RES, 15, "an eighth of a notch");
  return "presented as " + mice.gamingRun.presented.name + "; a wheel step reads " +
         frame.describe();
}

std::string gamingMousePasses(GuestSession& session, AnyMice& mice) {
  const HidDeviceInfo& presented = mice.gamingRun.presented;
  auto pointer = session.openReader(mice.gamingRun.presentedEvdev);
  auto keyboard = session.openReader(nodeWith(session, presented, EV_KEY, KEY_A, "KEY_A"));

  // Buttons 1 and 3, X +12, Y -7 (16-bit).
  sendGaming(session, mice, {0x01, 0x05, 0x00, 0x0C, 0x00, 0xF9, 0xFF, 0x00, 0x00});
  EvdevFrame frame = session.expectFrame(*pointer, "buttons 1 and 3 with motion");
  session.expectValue(frame, EV_REL, REL_X, 12, "REL_X");
  session.expectValue(frame, EV_REL, REL_Y, -7, "REL_Y");
  session.expectValue(frame, EV_KEY, BTN_LEFT, 1, "left press");
  session.expectValue(frame, EV_KEY, BTN_MIDDLE, 1, "middle press");
  sendGaming(session, mice, {0x01, 0, 0, 0, 0, 0, 0, 0, 0});
  session.expectFrame(*pointer, "buttons released");

  // Left Shift and A on the keyboard collection, then volume up on the consumer one.
  sendGaming(session, mice, {0x02, 0x02, 0x00, 0x04, 0, 0, 0, 0, 0});
  frame = session.expectFrame(*keyboard, "Shift+A from the keyboard collection");
  session.expectValue(frame, EV_KEY, KEY_LEFTSHIFT, 1, "Left Shift");
  session.expectValue(frame, EV_KEY, KEY_A, 1, "A");
  sendGaming(session, mice, {0x02, 0, 0, 0, 0, 0, 0, 0, 0});
  session.expectFrame(*keyboard, "keys released");
  // Opened now: the kernel may put the consumer keys on the keyboard's node.
  auto consumer =
      session.openReader(nodeWith(session, presented, EV_KEY, KEY_VOLUMEUP, "KEY_VOLUMEUP"));
  sendGaming(session, mice, {0x03, 0xE9, 0x00});
  session.expectValue(session.expectFrame(*consumer, "volume up"), EV_KEY, KEY_VOLUMEUP, 1,
                      "volume up");
  sendGaming(session, mice, {0x03, 0x00, 0x00});
  session.expectFrame(*consumer, "volume up released");
  return "motion and buttons 1, 3 unchanged; Shift+A and volume up arrived";
}

std::string gamingButtonOverride(GuestSession& session, AnyMice& mice) {
  DriverRun& run = mice.gamingRun;
  auto pointer = session.openReader(run.presentedEvdev);
  kinetraDriver(session, {"override", run.deviceId, "0x90004", "1"});
  auto listener = listenForEvents(session, run, 2);
  sendGaming(session, mice, {0x01, 0x08, 0x00, 0, 0, 0, 0, 0, 0});
  sendGaming(session, mice, {0x01, 0x08, 0x00, 0x0B, 0x00, 0, 0, 0, 0});
  const EvdevFrame frame = session.expectFrame(*pointer, "button 4 held, then motion");
  expect(!frame.value(EV_KEY, BTN_SIDE).has_value(),
         "button 4 reached the presented mouse (" + frame.describe() + ")");
  session.expectValue(frame, EV_REL, REL_X, 11, "motion beside the hidden button");
  sendGaming(session, mice, {0x01, 0, 0, 0, 0, 0, 0, 0, 0});
  expectEvents(session, *listener, {"event 0x90004 1", "event 0x90004 0"});
  return "button 4 of report 1 hidden, its press and release reached the client";
}

// A Bluetooth LE mouse as BlueZ presents one: a uhid device on the Bluetooth bus.
std::string driveBleMouse(GuestSession& session, AnyMice& mice) {
  UhidDevice::Setup setup;
  setup.name = "Vmtest BLE Mouse";
  setup.phys = "aa:bb:cc:dd:ee:ff";
  setup.uniq = kBleUniq;
  setup.bus = BUS_BLUETOOTH;
  setup.vendor = kOtherVendor;
  setup.product = kBleProduct;
  setup.descriptor = descriptorOf(session, "generic-mouse");
  std::string problem;
  mice.ble = UhidDevice::create(setup, &problem);
  expect(mice.ble != nullptr, problem);
  expect(mice.ble->waitForStart(session.options.bound), "no driver started the BLE mouse");
  auto info =
      waitForHidDevice(matchHidDevice(kOtherVendor, kBleProduct, kBleUniq), session.options.bound);
  expect(info.has_value(), "the BLE mouse has no hidraw and evdev nodes");
  startDriverOn(session, *info, presentedFor(kBleUniq), mice.bleRun);
  expect(mice.bleRun.socket.find("com_Zenvor_driver_bt_Skarn@") != std::string::npos,
         "the daemon serves " + mice.bleRun.socket + ", not the Bluetooth class");
  auto pointer = session.openReader(mice.bleRun.presentedEvdev);
  mice.ble->serviceEvents();
  // Button 2, X +12, Y -7 (16-bit, no report ID).
  expect(mice.ble->sendInput(Bytes{0x02, 0x0C, 0x00, 0xF9, 0xFF, 0x00, 0x00}, &problem), problem);
  const EvdevFrame frame = session.expectFrame(*pointer, "BLE mouse motion and button 2");
  session.expectValue(frame, EV_REL, REL_X, 12, "REL_X");
  session.expectValue(frame, EV_KEY, BTN_RIGHT, 1, "right press");
  expect(mice.ble->sendInput(Bytes(7, 0), &problem), problem);
  return "presented as " + mice.bleRun.presented.name + " by the Bluetooth driver class";
}

// A daemon started on a presented mouse (as udev would for the same IDs) drives nothing.
std::string presentedMouseRefused(GuestSession& session, AnyMice& mice) {
  const HidDeviceInfo& presented = mice.bleRun.presented;
  expect(!presented.hidraw.empty(), presented.sysfsPath + " has no hidraw node");
  auto daemon = session.start({session.program("zenvor-driver"), "--hidraw",
                               presented.hidraw.front(), "--services", kServicesFolder},
                              "/tmp/zenvor-driver-refusal.log");
  const auto status = daemon->wait(session.options.bound * 2);
  expect(status.has_value(),
         "zenvor-driver drives the mouse another one presents" + daemonSaid(*daemon));
  expect(WIFEXITED(*status) && WEXITSTATUS(*status) == 0,
         "zenvor-driver " + testing::ChildProcess::describeStatus(*status) + daemonSaid(*daemon));
  const std::string said = daemonSaid(*daemon);
  expect(said.find("nothing to drive") != std::string::npos,
         "zenvor-driver did not say why it left the presented mouse alone" + said);
  const auto twice = waitForHidDevice(
      [](const HidDeviceInfo& info) {
        return info.name.ends_with(std::string(kPresentedSuffix) + kPresentedSuffix);
      },
      std::chrono::milliseconds(0));
  expect(!twice.has_value(), twice ? twice->name + " was presented" : "");
  return "the daemon left " + fs::path(presented.hidraw.front()).filename().string() +
         " alone and exited with status 0";
}

}  // namespace

void addAnyMouseChecks(GuestSession& session) {
  if (session.program("zenvor-driver").empty() || session.program("kinetra").empty()) return;
  auto mice = std::make_shared<AnyMice>();
  auto bind = [&session, mice](std::string (*body)(GuestSession&, AnyMice&)) {
    return [&session, mice, body] { return body(session, *mice); };
  };
  CheckList& checks = session.checks;
  // The USB controller takes one gadget at a time: the demo mouse's must be gone.
  checks.add("gaming-mouse-bound", bind(plugGamingMouse), {"usb-unplug"});
  checks.add("gaming-mouse-driven", bind(driveGamingMouse), {"gaming-mouse-bound"});
  checks.add("gaming-mouse-passes", bind(gamingMousePasses), {"gaming-mouse-driven"});
  checks.add("gaming-mouse-override", bind(gamingButtonOverride), {"gaming-mouse-driven"});
  checks.add("ble-mouse-driven", bind(driveBleMouse));
  checks.add("presented-mouse-refused", bind(presentedMouseRefused), {"ble-mouse-driven"});
}

}  // namespace zv::vmtest
