#include "UsbMouseChecks.h"

#include <linux/input.h>

#include <algorithm>
#include <filesystem>

#include "HidrawNode.h"
#include "Latency.h"
#include "Wait.h"

namespace zv::vmtest {
namespace {

using Clock = std::chrono::steady_clock;

std::string plugUsbMouse(GuestSession& session) {
  const int type = session.options.breakLink == "wrong-descriptor" ? 4 : kDemoDeviceType;
  std::string problem;
  session.usbMouse = UsbGadgetMouse::create(usbDemoMouseSetup(kUsbMouseUniq, type), &problem);
  expect(session.usbMouse != nullptr, problem);
  // USB enumeration under emulation is slower than a uhid device.
  auto info = waitForHidDevice(matchHidDevice(kDemoVendor, kDemoProduct, kUsbMouseUniq),
                               session.options.bound * 2);
  expect(info.has_value(),
         "the host side made no driver-bound HID device with hidraw and "
         "evdev nodes for the USB mouse");
  expect(!info->underUhid, info->sysfsPath + " is under the uhid parent");
  expect(info->sysfsPath.find("/usb") != std::string::npos,
         info->sysfsPath + " is not under a USB device");
  expect(info->driver == "hid-generic", "bound to '" + info->driver + "', not hid-generic");
  session.usbMouseInfo = *info;
  session.usbMouseEvdev = session.pointerNode(*info);
  return info->name + ", " + session.usbMouse->reportNode() + " -> " + info->hidraw.front() + ", " +
         session.usbMouseEvdev;
}

std::string usbMouseReports(GuestSession& session) {
  auto reader = session.openReader(session.usbMouseEvdev);
  std::string problem;
  auto hidraw = HidrawNode::open(session.usbMouseInfo.hidraw.front(), &problem);
  expect(hidraw != nullptr, problem);

  const MouseInput press{0x0001, 12, -7, 0};
  session.sendUsb(press);
  const EvdevFrame frame = session.expectFrame(*reader, "USB report with motion and a press");
  session.expectValue(frame, EV_REL, REL_X, 12, "REL_X");
  session.expectValue(frame, EV_REL, REL_Y, -7, "REL_Y");
  session.expectValue(frame, EV_KEY, BTN_LEFT, 1, "left press");
  const auto raw = hidraw->readReport(session.options.bound, &problem);
  expect(raw.has_value(), "hidraw: " + problem);
  const auto sent = demoMouseReport(press);
  expect(std::equal(raw->begin(), raw->end(), sent.begin(), sent.end()),
         "hidraw gave a report that differs from the one sent");

  session.sendUsb({});
  session.expectValue(session.expectFrame(*reader, "USB release"), EV_KEY, BTN_LEFT, 0,
                      "left release");
  return "motion and a click on evdev, the same bytes on hidraw";
}

// A report written by the USB device to the event on the host's evdev node: the kernel's
// whole USB path including the host's polling, the baseline for the driver daemon.
std::string usbLatency(GuestSession& session) {
  const LatencySummary summary =
      session.measureMotionLatency(session.usbMouseEvdev, true, "usb-evdev");
  return std::to_string(summary.count) + " reports";
}

std::string usbUnplug(GuestSession& session) {
  auto reader = session.openReader(session.usbMouseEvdev);
  std::string problem;
  expect(session.usbMouse->unplug(&problem), "unbinding the gadget: " + problem);
  const auto frame = reader->nextFrame(session.options.bound);
  expect(!frame.has_value() && reader->gone(),
         "the open evdev node did not report the device gone (ENODEV)");
  expect(waitForHidDeviceGone(matchHidDevice(kDemoVendor, kDemoProduct, kUsbMouseUniq),
                              session.options.bound),
         "the HID device is still in sysfs");
  expect(waitUntil([&] { return !std::filesystem::exists(session.usbMouseEvdev); },
                   session.options.bound),
         session.usbMouseEvdev + " remains after the unplug");
  session.usbMouse.reset();
  return "evdev reader saw ENODEV, sysfs entry and nodes removed";
}

}  // namespace

void addUsbMouseChecks(GuestSession& session) {
  auto bind = [&session](std::string (*body)(GuestSession&)) {
    return [&session, body] { return body(session); };
  };
  session.checks.add("usb-mouse-bound", bind(plugUsbMouse));
  session.checks.add("usb-mouse-reports", bind(usbMouseReports), {"usb-mouse-bound"});
  session.checks.add("latency-usb-evdev", bind(usbLatency), {"usb-mouse-reports"});
}

void addUsbUnplugCheck(GuestSession& session) {
  session.checks.add("usb-unplug", [&session] { return usbUnplug(session); }, {"usb-mouse-bound"});
}

}  // namespace zv::vmtest
