#include "GuestSession.h"

#include <linux/input.h>
#include <unistd.h>

#include <vector>

#include "output/UinputOutput.h"

namespace zv::vmtest {

bool isBreakableLink(const std::string& link) {
  return link == "wrong-descriptor" || link == "no-grab" || link == "no-agent-output";
}

GuestSession::GuestSession() = default;
GuestSession::~GuestSession() = default;

std::string GuestSession::program(const std::string& name) const {
  const std::string path = options.programsFolder + "/" + name;
  return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

std::unique_ptr<testing::ChildProcess> GuestSession::start(
    const std::vector<std::string>& argv, const std::string& logPath,
    const std::map<std::string, std::string>& environment) const {
  testing::ChildOptions childOptions;
  childOptions.environment = environment;
  childOptions.output = logPath;
  childOptions.freshOutput = true;
  auto child = testing::ChildProcess::start(argv, childOptions);
  expect(child.ok(), child ? std::string() : child.failure().message);
  return std::make_unique<testing::ChildProcess>(std::move(*child));
}

void GuestSession::send(const MouseInput& input) {
  expect(mouse != nullptr, "the physical mouse is not plugged in");
  const auto report = demoMouseReport(input);
  std::string problem;
  expect(mouse->sendInput(report, &problem), "sending an input report: " + problem);
}

void GuestSession::sendUsb(const MouseInput& input) {
  expect(usbMouse != nullptr, "the USB mouse is not plugged in");
  const auto report = demoMouseReport(input);
  std::string problem;
  expect(usbMouse->sendInput(report, options.bound, &problem), "sending a USB report: " + problem);
}

std::string GuestSession::pointerNode(const HidDeviceInfo& device) {
  for (const std::string& node : device.evdev) {
    if (openReader(node)->hasCode(EV_REL, REL_X)) return node;
  }
  throw CheckFailed("no evdev node of " + device.sysfsPath + " reports relative X");
}

std::unique_ptr<EvdevReader> GuestSession::openReader(const std::string& node) {
  // Opening a node of the mouse queues an OPEN for it; the queue is emptied here rather
  // than per report, which would add a read to every report's latency.
  if (mouse) mouse->serviceEvents();
  std::string problem;
  auto reader = EvdevReader::open(node, &problem);
  expect(reader != nullptr, problem);
  return reader;
}

EvdevFrame GuestSession::expectFrame(EvdevReader& reader, const std::string& after) {
  auto frame = reader.nextFrame(options.bound);
  expect(!reader.gone(), reader.node() + " went away after " + after);
  expect(frame.has_value(), "no event on " + reader.node() + " within " +
                                std::to_string(options.bound.count()) + " ms after " + after);
  expect(!frame->dropped, reader.node() + " dropped events (SYN_DROPPED) after " + after);
  return std::move(*frame);
}

void GuestSession::expectValue(const EvdevFrame& frame, std::uint16_t type, std::uint16_t code,
                               std::int32_t value, const std::string& what) {
  const auto got = frame.value(type, code);
  expect(got == value, what + ": expected " + std::to_string(value) + ", got " +
                           (got ? std::to_string(*got) : std::string("nothing")) +
                           " (frame: " + frame.describe() + ")");
}

LatencySummary GuestSession::measureMotionLatency(const std::string& node, bool usb,
                                                  const std::string& metric) {
  auto reader = openReader(node);
  reader->drain();
  const std::string what = usb ? "USB report " : "report ";
  std::vector<std::chrono::nanoseconds> samples;
  samples.reserve(options.latencyReports);
  for (std::size_t i = 0; i < options.latencyReports; ++i) {
    const std::int16_t dx = (i % 2) ? 1 : -1;
    const auto start = std::chrono::steady_clock::now();
    if (usb) {
      sendUsb({0, dx, 0, 0});
    } else {
      send({0, dx, 0, 0});
    }
    const EvdevFrame frame = expectFrame(*reader, what + std::to_string(i));
    samples.push_back(std::chrono::steady_clock::now() - start);
    expect(frame.value(EV_REL, REL_X) == dx,
           what + std::to_string(i) + " came out as " + frame.describe());
  }
  LatencySummary summary = summarize(std::move(samples));
  checks.metric(metricLine("latency." + metric, summary));
  return summary;
}

}  // namespace zv::vmtest
