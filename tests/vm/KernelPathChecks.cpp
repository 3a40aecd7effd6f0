#include "KernelPathChecks.h"

#include <linux/input.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "HidrawNode.h"
#include "Latency.h"
#include "PointerBehaviour.h"
#include "Wait.h"
#include "core/SampleDescriptors.h"
#include "log/Log.h"
#include "output/UinputOutput.h"

namespace zv::vmtest {
namespace {

using Clock = std::chrono::steady_clock;

// The descriptor a wrongly configured device would present: one with report IDs, so the
// mouse's reports (which have none) are read with their first byte taken for an ID.
constexpr int kWrongDescriptorType = 4;

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : " ") + part;
  return text;
}

std::unique_ptr<HidrawNode> openHidraw(const GuestSession& session) {
  expect(!session.mouseInfo.hidraw.empty(), "the physical mouse has no hidraw node");
  std::string problem;
  auto node = HidrawNode::open(session.mouseInfo.hidraw.front(), &problem);
  expect(node != nullptr, problem);
  return node;
}

std::string plugMouse(GuestSession& session) {
  const int type =
      session.options.breakLink == "wrong-descriptor" ? kWrongDescriptorType : kDemoDeviceType;
  std::string problem;
  session.mouse = UhidDevice::create(demoMouseSetup(kUhidMouseUniq, type), &problem);
  expect(session.mouse != nullptr, problem);
  expect(session.mouse->waitForStart(session.options.bound),
         "the kernel did not start the device: no HID driver bound it (is hid-generic loaded?)");
  auto info = waitForHidDevice(matchHidDevice(kDemoVendor, kDemoProduct, kUhidMouseUniq),
                               session.options.bound);
  expect(info.has_value(), "no driver-bound HID device with hidraw and evdev nodes appeared");
  expect(info->underUhid, info->sysfsPath + " is not under the uhid parent");
  expect(info->driver == "hid-generic", "bound to '" + info->driver + "', not hid-generic");
  session.mouseInfo = *info;
  session.mouseEvdev = session.pointerNode(*info);
  return info->driver + ", " + joined(info->hidraw) + ", " + joined(info->evdev);
}

std::string hidrawDescriptor(GuestSession& session) {
  auto node = openHidraw(session);
  const auto expected = zv::driver::sampleDescriptorForType(kDemoDeviceType);
  const auto descriptor = node->descriptor();
  expect(descriptor.has_value(), std::string("HIDIOCGRDESC failed: ") + std::strerror(errno));
  expect(std::equal(descriptor->begin(), descriptor->end(), expected.begin(), expected.end()),
         "the descriptor read back (" + std::to_string(descriptor->size()) +
             " bytes) is not the demo mouse's (" + std::to_string(expected.size()) + " bytes)");
  const auto info = node->info();
  expect(info.has_value(), std::string("HIDIOCGRAWINFO failed: ") + std::strerror(errno));
  expect(info->bustype == BUS_USB && static_cast<std::uint16_t>(info->vendor) == kDemoVendor &&
             static_cast<std::uint16_t>(info->product) == kDemoProduct,
         "HIDIOCGRAWINFO does not give USB 5a56:1704");
  return std::to_string(descriptor->size()) + " bytes, '" + node->name() + "'";
}

std::string hidrawReports(GuestSession& session) {
  auto node = openHidraw(session);
  const MouseInput inputs[] = {{0x0001, 0x1234, -2, 0}, {0x8000, -1, 0x7FFF, -1}};
  for (const MouseInput& input : inputs) {
    session.send(input);
    std::string problem;
    const auto report = node->readReport(session.options.bound, &problem);
    expect(report.has_value(), "hidraw: " + problem);
    const auto sent = demoMouseReport(input);
    expect(std::equal(report->begin(), report->end(), sent.begin(), sent.end()),
           "hidraw gave a report of " + std::to_string(report->size()) +
               " bytes that differs from the one sent");
  }
  return "2 reports read back unchanged";
}

std::string evdevIdentity(GuestSession& session) {
  auto reader = session.openReader(session.mouseEvdev);
  const input_id id = reader->id();
  expect(id.bustype == BUS_USB && id.vendor == kDemoVendor && id.product == kDemoProduct,
         "the evdev node's IDs are not USB 5a56:1704");
  for (auto code : {REL_X, REL_Y, REL_WHEEL}) {
    expect(reader->hasCode(EV_REL, static_cast<std::uint16_t>(code)),
           "relative axis " + std::to_string(code) + " missing");
  }
  for (auto code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA}) {
    expect(reader->hasCode(EV_KEY, static_cast<std::uint16_t>(code)),
           "button code " + std::to_string(code) + " missing");
  }
  return "'" + reader->name() + "', X, Y, wheel, buttons";
}

std::string evdevMotion(GuestSession& session) {
  auto reader = session.openReader(session.mouseEvdev);
  return expectMotion(session, *reader, [&](const MouseInput& input) { session.send(input); });
}

std::string evdevButtons(GuestSession& session) {
  auto reader = session.openReader(session.mouseEvdev);
  return expectButtons(session, *reader, [&](const MouseInput& input) { session.send(input); });
}

std::string evdevWheel(GuestSession& session) {
  auto reader = session.openReader(session.mouseEvdev);
  return expectWheel(session, *reader, [&](const MouseInput& input) { session.send(input); });
}

std::string evdevGrab(GuestSession& session) {
  auto holder = session.openReader(session.mouseEvdev);
  auto other = session.openReader(session.mouseEvdev);
  const bool takeGrab = session.options.breakLink != "no-grab";
  if (takeGrab) {
    const int error = holder->grab(true);
    expect(error == 0, std::string("EVIOCGRAB failed: ") + std::strerror(error));
  }
  session.send({0, 7, 0, 0});
  session.expectValue(session.expectFrame(*holder, "motion while grabbed"), EV_REL, REL_X, 7,
                      "the grabbing reader");
  if (takeGrab) holder->grab(false);
  // Events reach each reader in order, so the first frame the other reader sees after the
  // release tells whether the grabbed report leaked to it.
  session.send({0, 9, 0, 0});
  const EvdevFrame frame = session.expectFrame(*other, "motion after the release");
  expect(frame.value(EV_REL, REL_X) == 9,
         "the other reader got the report sent while the grab was held (" + frame.describe() + ")");
  // A second program cannot take a grab someone holds: how a driver learns that another
  // one already has the mouse.
  expect(holder->grab(true) == 0, "EVIOCGRAB failed after a release");
  const int second = other->grab(true);
  expect(second == EBUSY,
         "a second grab was not refused with EBUSY (" + std::string(std::strerror(second)) + ")");
  return "exclusive while held, shared after release, a second grab refused";
}

// Physical report in, event out, one at a time: the kernel's own path, which is the
// baseline for what a driver adds.
std::string evdevLatency(GuestSession& session) {
  const LatencySummary summary =
      session.measureMotionLatency(session.mouseEvdev, false, "physical-evdev");
  return std::to_string(summary.count) + " reports";
}

std::string hidrawLatency(GuestSession& session) {
  auto node = openHidraw(session);
  std::vector<std::chrono::nanoseconds> samples;
  samples.reserve(session.options.latencyReports);
  for (std::size_t i = 0; i < session.options.latencyReports; ++i) {
    const std::int16_t dx = (i % 2) ? 1 : -1;
    const auto start = Clock::now();
    session.send({0, dx, 0, 0});
    std::string problem;
    const auto report = node->readReport(session.options.bound, &problem);
    samples.push_back(Clock::now() - start);
    expect(report.has_value(), "report " + std::to_string(i) + ": " + problem);
  }
  const LatencySummary summary = summarize(std::move(samples));
  session.checks.metric(metricLine("latency.physical-hidraw", summary));
  return std::to_string(summary.count) + " reports";
}

std::string uinputKeyboard(GuestSession& session) {
  std::string said;
  auto previous = zv::log::setLogSink(
      [&](const zv::log::LogRecord& record) { said = std::string(record.message); });
  zv::output::UinputOutput::Options options;
  options.settle = std::chrono::milliseconds(0);  // the check opens the nodes itself
  session.output = std::make_unique<zv::output::UinputOutput>(options);
  const bool available = session.output->available();
  zv::log::setLogSink(std::move(previous));
  expect(available, "the virtual devices were not created: " + said);

  auto reader = session.openReader(session.output->keyboardNode());
  expect(reader->name() == "Kinetra virtual keyboard",
         "the keyboard node is '" + reader->name() + "'");
  const std::pair<std::uint16_t, std::int32_t> keys[] = {
      {KEY_A, 1}, {KEY_A, 2}, {KEY_A, 0}, {KEY_VOLUMEUP, 1}, {KEY_VOLUMEUP, 0}};
  for (const auto& [key, value] : keys) {
    session.output->postKey(key, value, 0);
    const std::string step = "key " + std::to_string(key) + " value " + std::to_string(value);
    session.expectValue(session.expectFrame(*reader, step), EV_KEY, key, value, step);
  }
  return session.output->keyboardNode() + ": press, repeat, release, media key";
}

std::string uinputWheel(GuestSession& session) {
  auto reader = session.openReader(session.output->pointerNode());
  expect(reader->name() == "Kinetra virtual pointer",
         "the pointer node is '" + reader->name() + "'");
  session.output->postWheel(1, false);
  const EvdevFrame up = session.expectFrame(*reader, "wheel up");
  session.expectValue(up, EV_REL, REL_WHEEL, 1, "wheel up");
  session.expectValue(up, EV_REL, REL_WHEEL_HI_RES, 120, "wheel up, hi-res");
  session.output->postWheel(-2, true);
  const EvdevFrame left = session.expectFrame(*reader, "wheel left");
  session.expectValue(left, EV_REL, REL_HWHEEL, -2, "wheel left");
  session.expectValue(left, EV_REL, REL_HWHEEL_HI_RES, -240, "wheel left, hi-res");
  return session.output->pointerNode() + ": vertical and horizontal, whole and hi-res";
}

// A key posted by the suite's output to the event on the virtual keyboard's node: the
// baseline of the last hop of a profile's keystroke.
std::string uinputLatency(GuestSession& session) {
  auto reader = session.openReader(session.output->keyboardNode());
  reader->drain();
  std::vector<std::chrono::nanoseconds> samples;
  samples.reserve(session.options.latencyReports);
  for (std::size_t i = 0; i < session.options.latencyReports; ++i) {
    const std::int32_t value = (i % 2) ? 0 : 1;
    const auto start = Clock::now();
    session.output->postKey(KEY_B, value, 0);
    const EvdevFrame frame = session.expectFrame(*reader, "key " + std::to_string(i));
    samples.push_back(Clock::now() - start);
    expect(frame.value(EV_KEY, KEY_B) == value,
           "key " + std::to_string(i) + " came out as " + frame.describe());
  }
  if (session.options.latencyReports % 2) session.output->postKey(KEY_B, 0, 0);
  const LatencySummary summary = summarize(std::move(samples));
  session.checks.metric(metricLine("latency.uinput-evdev", summary));
  return std::to_string(summary.count) + " key events";
}

std::string unplug(GuestSession& session) {
  auto reader = session.openReader(session.mouseEvdev);
  std::string problem;
  expect(session.mouse->destroy(&problem), "UHID_DESTROY: " + problem);
  const auto frame = reader->nextFrame(session.options.bound);
  expect(!frame.has_value() && reader->gone(),
         "the open evdev node did not report the device gone (ENODEV)");
  expect(waitForHidDeviceGone(matchHidDevice(kDemoVendor, kDemoProduct, kUhidMouseUniq),
                              session.options.bound),
         "the HID device is still in sysfs");
  std::vector<std::string> nodes = session.mouseInfo.hidraw;
  nodes.insert(nodes.end(), session.mouseInfo.evdev.begin(), session.mouseInfo.evdev.end());
  expect(waitUntil(
             [&] {
               return std::none_of(nodes.begin(), nodes.end(), [](const std::string& node) {
                 return std::filesystem::exists(node);
               });
             },
             session.options.bound),
         "device nodes remain after the unplug");
  session.mouse.reset();
  return "evdev reader saw ENODEV, sysfs entry and nodes removed";
}

}  // namespace

void addKernelPathChecks(GuestSession& session) {
  auto bind = [&session](std::string (*body)(GuestSession&)) {
    return [&session, body] { return body(session); };
  };
  CheckList& checks = session.checks;
  checks.add("uhid-mouse-bound", bind(plugMouse));
  checks.add("hidraw-descriptor", bind(hidrawDescriptor), {"uhid-mouse-bound"});
  checks.add("hidraw-reports", bind(hidrawReports), {"uhid-mouse-bound"});
  checks.add("evdev-identity", bind(evdevIdentity), {"uhid-mouse-bound"});
  checks.add("evdev-motion", bind(evdevMotion), {"uhid-mouse-bound"});
  checks.add("evdev-buttons", bind(evdevButtons), {"uhid-mouse-bound"});
  checks.add("evdev-wheel", bind(evdevWheel), {"uhid-mouse-bound"});
  checks.add("evdev-grab", bind(evdevGrab), {"uhid-mouse-bound"});
  checks.add("latency-physical-evdev", bind(evdevLatency), {"evdev-motion"});
  checks.add("latency-physical-hidraw", bind(hidrawLatency), {"hidraw-reports"});
  checks.add("uinput-keyboard", bind(uinputKeyboard));
  checks.add("uinput-wheel", bind(uinputWheel), {"uinput-keyboard"});
  checks.add("latency-uinput-evdev", bind(uinputLatency), {"uinput-keyboard"});
}

void addUnplugCheck(GuestSession& session) {
  session.checks.add("uhid-unplug", [&session] { return unplug(session); }, {"uhid-mouse-bound"});
}

}  // namespace zv::vmtest
