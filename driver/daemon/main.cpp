// zenvor-driver: the user-space HID driver of one mouse. See --help.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "core/DebugLog.h"
#include "core/SampleDescriptors.h"
#include "daemon/AccessRule.h"
#include "daemon/Daemon.h"
#include "daemon/DriverLog.h"
#include "daemon/SimulatedInput.h"
#include "fakes/FakeHidraw.h"
#include "fakes/FakeUhid.h"
#include "fakes/FakeUsbControl.h"
#include "linux/DeviceLocator.h"
#include "linux/LibusbControl.h"
#include "linux/LinuxHidraw.h"
#include "linux/LinuxInputGrab.h"
#include "linux/LinuxUhid.h"
#include "linux/LoginSeatSessions.h"
#include "protocol/PresentedMouse.h"
#include "protocol/SuiteVersion.h"
#include "replay/DescriptorFile.h"
#include "replay/ReplayCommand.h"

namespace zv::driver {
namespace {

constexpr std::uint16_t kSimulatedVendor = 0x5A56;

const char kDescription[] =
    "The user-space HID driver of one mouse: reads the mouse's reports from hidraw, rewrites\n"
    "them (buttons a profile took over, precision aim, forced buttons) and presents the\n"
    "rewritten mouse through uhid, while the real one's event nodes are grabbed. Clients\n"
    "(the agent, the editor, `kinetra driver`) connect to its socket\n"
    "<services folder>/<class>@<device id>.\n\n"
    "With --simulate it drives a simulated mouse instead: input reports come as script\n"
    "lines on standard input (or --input PATH): `report HEX...`, `wait MS`, `override\n"
    "ELEMENT 0|1`, `buttons MASK`, `precision ELEMENT PCT`, `axis ELEMENT 1|2`, `hat\n"
    "ELEMENT`, `model`, `unplug`. Each report is printed as read and as rewritten\n"
    "(`report RAW -> REWRITTEN`), each synthetic pointer report as `pointer HEX`, and\n"
    "`ready PATH` once the socket is served.\n\n"
    "Any mouse can be simulated from its report descriptor, e.g. a five-button mouse:\n"
    "  zenvor-driver --simulate 0x0B03 --vendor 0x1D57 --bus usb --name 'Generic Mouse'\n"
    "                --descriptor-file /usr/share/kinetra/mice/generic-mouse.hid\n\n"
    "With --input-format binary the reports come as hidraw gives them instead: standard\n"
    "input is a packet socket (SOCK_SEQPACKET or SOCK_DGRAM), one input report per packet;\n"
    "the feeder closing its end unplugs the mouse. Each report line then ends with the\n"
    "moment it was handed to uhid (`at SECONDS`, CLOCK_MONOTONIC), for measuring.\n";

// One whole line at a time on standard output: the loop and the mouse reporter thread both
// print.
void printLine(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
    text += byte;
  }
  return text;
}

std::string hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
  return text;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "zenvor-driver: %s\n", message.c_str());
  return 1;
}

// A descriptor of its own for standard input when that is a packet socket; -1 with the
// reason otherwise (a pipe or a file does not keep one report apart from the next).
int packetSocketOnStandardInput(std::string* error) {
  int type = 0;
  socklen_t length = sizeof type;
  if (getsockopt(STDIN_FILENO, SOL_SOCKET, SO_TYPE, &type, &length) != 0 ||
      (type != SOCK_SEQPACKET && type != SOCK_DGRAM)) {
    *error =
        "--input-format binary reads standard input as a packet socket (SOCK_SEQPACKET or "
        "SOCK_DGRAM, one report per packet); a pipe or a file does not keep reports apart";
    return -1;
  }
  const int fd = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) *error = std::string("cannot use standard input: ") + std::strerror(errno);
  return fd;
}

struct Options {
  std::string hidraw;
  std::string simulate;
  std::string descriptor;
  std::string descriptorFile;
  std::string vendor;
  std::string bus = "usb";
  std::string name;
  std::string input = "-";
  std::string inputFormat = "text";
  std::string services;
  std::string deviceId;
  bool debug = false;
};

int serve(EventLoop& loop, ZenvorDriver& driver, AccessRule& access, const std::string& folder,
          const std::string& deviceId, std::function<void(const std::string&)> ready,
          std::function<void(Daemon&)> beforeRun = {}) {
  Daemon daemon(loop, driver, access);
  daemon.handleSignals();
  daemon.setReadyHandler(std::move(ready));
  std::string error;
  if (!daemon.start(folder, deviceId, &error)) return fail(error);
  if (beforeRun) beforeRun(daemon);
  return daemon.run();
}

int runSimulated(const Options& o, const std::string& folder) {
  std::uint64_t product;
  if (!replay::parseReplayNumber(o.simulate, 0xFFFF, &product)) {
    return fail("'" + o.simulate + "' is not a product ID (0 to 0xFFFF, e.g. 0x1704)");
  }
  const int type = GetDeviceTypeFromDevice(static_cast<std::uint16_t>(product));
  std::uint64_t vendor = kSimulatedVendor;
  if (!o.vendor.empty() && !replay::parseReplayNumber(o.vendor, 0xFFFF, &vendor)) {
    return fail("'" + o.vendor + "' is not a vendor ID (0 to 0xFFFF, e.g. 0x046D)");
  }
  std::vector<std::uint8_t> descriptor;
  if (!o.descriptorFile.empty()) {
    std::string error;
    auto bytes = replay::readDescriptorFile(o.descriptorFile, &error);
    if (!bytes) return fail("--descriptor-file " + error);
    descriptor = std::move(*bytes);
  } else if (!o.descriptor.empty()) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : o.descriptor + " ") {
      if (c == ' ' || c == '\t' || c == ',' || c == ':') {
        if (!token.empty()) tokens.push_back(token);
        token.clear();
      } else {
        token += c;
      }
    }
    std::string error;
    if (!replay::parseReplayHexBytes(tokens, 0, &descriptor, &error) || descriptor.empty()) {
      return fail("--descriptor: " + (error.empty() ? std::string("no bytes") : error));
    }
  } else {
    const auto sample = sampleDescriptorForType(type);
    if (sample.empty()) {
      return fail("product " + o.simulate +
                  " has no built-in descriptor; give the mouse's own with --descriptor HEX or "
                  "--descriptor-file PATH");
    }
    descriptor.assign(sample.begin(), sample.end());
  }

  HidDeviceIdentity identity;
  identity.bus = o.bus == "bluetooth" ? kBusBluetooth : kBusUSB;
  identity.vendor = static_cast<std::uint16_t>(vendor);
  identity.product = static_cast<std::uint16_t>(product);
  identity.version = 0x0110;
  identity.name = o.name.empty() ? "Zenvor simulated mouse " + hex4(identity.product) : o.name;
  identity.phys = "simulated";
  const bool binary = o.inputFormat == "binary";
  std::unique_ptr<FakeHidraw> ownHidraw;
  if (binary && o.input != "-") {
    return fail("--input reads script lines; binary reports come on standard input");
  }
  if (binary) {
    std::string error;
    const int reports = packetSocketOnStandardInput(&error);
    if (reports < 0) return fail(error);
    ownHidraw = std::make_unique<FakeHidraw>(identity, descriptor, reports);
  } else {
    ownHidraw = std::make_unique<FakeHidraw>(identity, descriptor);
  }
  FakeHidraw& hidraw = *ownHidraw;
  hidraw.setUnknownFeatureLength(8);  // every feature report of the simulated mouse reads 0
  FakeUhid uhid;
  uhid.setRecording(false);
  // The simulated mouse's memory reads 0, its type word (index 11) its device type.
  FakeUsbControl usb;
  usb.setAnswer(0x90, 11, {static_cast<std::uint8_t>(type), 0});

  EventLoop loop;
  DriverBackends backends;
  backends.hidraw = &hidraw;
  backends.uhid = &uhid;
  if (identity.bus == kBusUSB) backends.usb = &usb;
  auto driver = makeDriver(identity.bus, loop, std::move(backends));
  if (binary) {
    // The observer runs right after the report went to uhid: the moment is taken first.
    driver->setReportObserver(
        [](std::span<const std::uint8_t> raw, std::span<const std::uint8_t> out) {
          timespec now;
          clock_gettime(CLOCK_MONOTONIC, &now);
          char at[40];
          std::snprintf(at, sizeof at, " at %lld.%09ld", static_cast<long long>(now.tv_sec),
                        now.tv_nsec);
          printLine("report " + hexBytes(raw) + " -> " + hexBytes(out) + at);
        });
  } else {
    driver->setReportObserver(
        [](std::span<const std::uint8_t> raw, std::span<const std::uint8_t> out) {
          printLine("report " + hexBytes(raw) + " -> " + hexBytes(out));
        });
  }
  driver->setPointerObserver(
      [](std::span<const std::uint8_t> report) { printLine("pointer " + hexBytes(report)); });

  LoginSeatSessions sessions;
  AccessRule access("seat0", geteuid(), sessions);
  const std::string deviceId =
      o.deviceId.empty() ? "simulated-" + hex4(identity.product) : o.deviceId;

  std::unique_ptr<SimulatedInput> input;
  return serve(
      loop, *driver, access, folder, deviceId,
      [&](const std::string& path) {
        ReportPipeline* pipeline = driver->pipeline();
        std::string line = "device 0x" + hex4(identity.product) + " type " + std::to_string(type) +
                           ": " + (pipeline->usesReplacementDescriptor() ? "replacement" : "own") +
                           " descriptor " + std::to_string(pipeline->systemDescriptor().size()) +
                           " bytes";
        if (const auto& mouse = pipeline->mouseReport()) {
          line += ", mouse report " + std::to_string(mouse->length()) + " bytes";
        } else if (const std::string summary = pipeline->pointerReportSummary(); !summary.empty()) {
          line += ", " + summary;
        }
        printLine(line);
        printLine("ready " + path);
      },
      [&](Daemon& daemon) {
        if (binary) return;  // the driver reads the reports itself
        input = std::make_unique<SimulatedInput>(loop, hidraw, *driver, printLine);
        std::string error;
        if (!input->open(o.input, &error)) {
          std::fprintf(stderr, "zenvor-driver: %s\n", error.c_str());
          daemon.shutdown("no input");
        }
      });
}

int runDevice(const Options& o, const std::string& folder) {
  std::string error;
  const auto located = locateHidraw(o.hidraw, &error);
  if (!located) return fail(error);
  auto hidraw = LinuxHidraw::open(o.hidraw, located->version, &error);
  if (!hidraw) return fail(error);
  // A uhid device is served like any other (a Bluetooth LE mouse arrives as one), except
  // the mouse a zenvor-driver presents: driving it would stack driver upon driver.
  if (presented::isPresentedByDriver(hidraw->identity().phys, hidraw->identity().name)) {
    reportNothingToDrive(o.hidraw + " is the mouse another zenvor-driver presents (" +
                         hidraw->identity().name + "); nothing to drive");
    return 0;
  }
  std::string why;
  if (!drivesInterface(hidraw->descriptor(), &why)) {
    // Another interface of a supported device (udev starts a driver for each of them).
    reportNothingToDrive(o.hidraw + " is not a mouse interface (" + why + "); nothing to drive");
    return 0;
  }
  auto uhid = LinuxUhid::open(&error);
  if (!uhid) return fail(error);
  LinuxInputGrab grab;
  std::unique_ptr<LibusbControl> usb;
  if (hidraw->identity().bus == kBusUSB && located->usb) {
    usb = LibusbControl::open(located->usbBus, located->usbAddress, &error);
    if (!usb) {
      driverLog(LOG_WARNING, "%s; control requests will fail\n", error.c_str());
    }
  }

  EventLoop loop;
  DriverBackends backends;
  backends.hidraw = hidraw.get();
  backends.uhid = uhid.get();
  backends.grab = &grab;
  backends.evdevNodes = located->eventNodes;
  backends.usb = usb.get();
  auto driver = makeDriver(hidraw->identity().bus, loop, std::move(backends));

  LoginSeatSessions sessions;
  AccessRule access(seatOfDevice(located->hidDevice), geteuid(), sessions);
  return serve(loop, *driver, access, folder, located->name, {});
}

}  // namespace
}  // namespace zv::driver

int main(int argc, char** argv) {
  using namespace zv::driver;
  // Before any thread exists, so that every thread inherits it: SIGTERM and SIGINT reach
  // only the loop's signalfd. A reader of standard output going away must not kill the
  // daemon either.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Options o;
  CLI::App app(kDescription, "zenvor-driver");
  app.get_formatter()->column_width(30);
  auto* hidraw = app.add_option("--hidraw,hidraw", o.hidraw, "the mouse's hidraw node")
                     ->type_name("/dev/hidrawN");
  auto* simulate =
      app.add_option("--simulate", o.simulate, "drive a simulated mouse with this USB product ID")
          ->type_name("PRODUCT");
  hidraw->excludes(simulate);
  auto* descriptor =
      app.add_option("--descriptor", o.descriptor,
                     "the simulated mouse's report descriptor (else the built-in one of its type)")
          ->type_name("HEX")
          ->needs(simulate);
  app.add_option("--descriptor-file", o.descriptorFile,
                 "the same from a file: raw bytes (as sysfs shows a mouse's report_descriptor) "
                 "or hex text with '#' comments")
      ->type_name("PATH")
      ->needs(simulate)
      ->excludes(descriptor);
  app.add_option("--vendor", o.vendor, "the simulated mouse's USB vendor ID (default 0x5A56)")
      ->type_name("VENDOR")
      ->needs(simulate);
  app.add_option("--bus", o.bus, "the simulated mouse's bus (default usb)")
      ->type_name("usb|bluetooth")
      ->check(CLI::IsMember({"usb", "bluetooth"}))
      ->needs(simulate);
  app.add_option("--name", o.name,
                 "the name the simulated mouse gives itself (default Zenvor simulated mouse "
                 "PPPP)")
      ->type_name("TEXT")
      ->needs(simulate);
  app.add_option("--input", o.input,
                 "read the simulated mouse's script from PATH (a FIFO or a file)")
      ->type_name("PATH")
      ->needs(simulate);
  app.add_option("--input-format", o.inputFormat,
                 "text: script lines (default); binary: input reports as hidraw gives them, one "
                 "per packet of a socket on standard input")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"text", "binary"}))
      ->needs(simulate);
  app.add_option("--device-id", o.deviceId,
                 "the simulated mouse's device id in the socket name (default simulated-PPPP)")
      ->type_name("ID")
      ->needs(simulate);
  app.add_option("--services", o.services,
                 "the services folder (default $KINETRA_SERVICES_DIR, else /run/kinetra/services)")
      ->type_name("DIR");
  app.add_flag("--debug", o.debug, "also log each report and the driver's diagnostics");
  app.set_version_flag("--version", std::string("zenvor-driver ") + zv::kSuiteVersion,
                       "print the version and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version answer 0, a wrong command line 2 (CLI11's own codes, such as
    // 108, mean nothing to a service manager or a script).
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (o.hidraw.empty() && o.simulate.empty()) {
    std::fprintf(stderr,
                 "zenvor-driver: give the mouse's node (--hidraw /dev/hidrawN) or a product to "
                 "simulate (--simulate 0x1704); see --help\n");
    return 1;
  }

  openDriverLog(/*alsoStandardError=*/!o.simulate.empty() || isatty(STDERR_FILENO));
  if (o.debug) {
    setDriverDebugLogging(true);
    setDebugLogging(true);
    setDebugLogSink([](const char* text) { driverLog(LOG_DEBUG, "%s", text); });
  }
  const std::string folder = o.services.empty() ? zv::userclient::servicesFolder() : o.services;
  try {
    return o.simulate.empty() ? runDevice(o, folder) : runSimulated(o, folder);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}
