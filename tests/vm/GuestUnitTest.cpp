// The parts of the guest program that need no kernel: reading sysfs, the demo mouse's
// report layout, percentiles and the check list's verdicts.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <signal.h>
#include <sys/wait.h>

#include "CheckList.h"
#include "DemoMouse.h"
#include "HidNodes.h"
#include "Latency.h"
#include "UsbGadgetMouse.h"
#include "core/HIDReportDescriptor.h"
#include "testing/ChildProcess.h"
#include "testing/TemporaryTree.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(HidNodes, ParsesHidIdAndRefusesMalformedOnes) {
  std::uint16_t bus = 0, vendor = 0, product = 0;
  ASSERT_TRUE(parseHidId("0003:00005A56:00001704", &bus, &vendor, &product));
  EXPECT_EQ(bus, 0x3);
  EXPECT_EQ(vendor, 0x5A56);
  EXPECT_EQ(product, 0x1704);
  for (const char* bad : {"", "0003:00005A56", "0003:00005A56:00001704:1", "0003:0001FFFF:0001",
                          "0003:zz:0001", "0003::0001", "0003:00005A56:000017041"}) {
    EXPECT_FALSE(parseHidId(bad, &bus, &vendor, &product)) << bad;
  }
}

// A sysfs tree as the kernel lays it out for a uhid device and a USB one.
class FakeSysfs : public ::testing::Test {
 protected:
  void addDevice(const std::string& parent, const std::string& name, const std::string& uevent,
                 const std::vector<std::string>& nodes) {
    const std::string folder = "sys/devices/" + parent + "/" + name;
    tree.write(folder + "/uevent", uevent);
    for (const std::string& node : nodes) {
      fs::create_directories(tree.path(folder + "/" + node));
      const std::string leaf = fs::path(node).filename().string();
      tree.write(leaf.starts_with("event") ? "dev/input/" + leaf : "dev/" + leaf, "");
    }
    fs::create_directories(tree.path("sys/bus/hid/devices"));
    fs::create_directory_symlink(tree.path(folder), tree.path("sys/bus/hid/devices/" + name));
  }
  std::string sys() const { return tree.path("sys").string(); }
  std::string dev() const { return tree.path("dev").string(); }

  zv::testing::TemporaryTree tree;
};

TEST_F(FakeSysfs, ListsDevicesWithTheirNodes) {
  addDevice("virtual/misc/uhid", "0003:5A56:1704.0002",
            "DRIVER=hid-generic\nHID_ID=0003:00005A56:00001704\nHID_NAME=Zenvor Demo Mouse\n"
            "HID_UNIQ=vmtest-physical\n",
            {"hidraw/hidraw1", "input/input7/event10", "input/input6/event3"});
  addDevice("pci0000:00/usb1/1-1", "0003:046D:C077.0001", "HID_ID=0003:0000046D:0000C077\n", {});
  addDevice("virtual/misc/uhid", "broken", "HID_ID=nonsense\n", {});

  const auto devices = listHidDevices(sys(), dev());
  ASSERT_EQ(devices.size(), 2u);
  const HidDeviceInfo& mouse = devices[1];
  EXPECT_EQ(mouse.driver, "hid-generic");
  EXPECT_EQ(mouse.name, "Zenvor Demo Mouse");
  EXPECT_EQ(mouse.uniq, "vmtest-physical");
  EXPECT_TRUE(mouse.underUhid);
  EXPECT_EQ(mouse.hidraw, std::vector<std::string>{dev() + "/hidraw1"});
  EXPECT_EQ(mouse.evdev,
            (std::vector<std::string>{dev() + "/input/event10", dev() + "/input/event3"}));
  EXPECT_FALSE(devices[0].underUhid);
  EXPECT_TRUE(devices[0].driver.empty());
}

TEST_F(FakeSysfs, WaitsOnlyForADeviceThatIsBoundAndHasItsNodes) {
  addDevice("virtual/misc/uhid", "0003:5A56:1704.0001",
            "HID_ID=0003:00005A56:00001704\nHID_UNIQ=vmtest-physical\n", {"hidraw/hidraw0"});
  const auto match = matchHidDevice(kDemoVendor, kDemoProduct, "vmtest-physical");
  // Not bound to a driver, and no evdev node yet.
  EXPECT_FALSE(waitForHidDevice(match, 20ms, sys(), dev()).has_value());

  tree.write("sys/devices/virtual/misc/uhid/0003:5A56:1704.0001/uevent",
             "DRIVER=hid-generic\nHID_ID=0003:00005A56:00001704\nHID_UNIQ=vmtest-physical\n");
  fs::create_directories(
      tree.path("sys/devices/virtual/misc/uhid/0003:5A56:1704.0001/input/"
                "input1/event1"));
  // The sysfs entry exists, the device node not yet.
  EXPECT_FALSE(waitForHidDevice(match, 20ms, sys(), dev()).has_value());
  tree.write("dev/input/event1", "");
  const auto found = waitForHidDevice(match, 20ms, sys(), dev());
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->evdev.front(), dev() + "/input/event1");

  EXPECT_FALSE(
      waitForHidDevice(matchHidDevice(kDemoVendor, kDemoProduct, "other"), 20ms, sys(), dev())
          .has_value());
  EXPECT_FALSE(waitForHidDeviceGone(match, 20ms, sys()));
  fs::remove(tree.path("sys/bus/hid/devices/0003:5A56:1704.0001"));
  EXPECT_TRUE(waitForHidDeviceGone(match, 20ms, sys()));
}

// The reports the guest sends must be what the descriptor it presents says they are.
TEST_F(FakeSysfs, FindsInputNodesByTheirDevicesName) {
  auto addInput = [&](const std::string& event, const std::string& name) {
    tree.write("sys/class/input/" + event + "/device/name", name + "\n");
  };
  addInput("event2", "Kinetra virtual keyboard");
  addInput("event3", "Kinetra virtual pointer");
  addInput("event7", "Kinetra virtual keyboard");
  addInput("event8", "Kinetra virtual keyboard 2");
  // The input device itself has the same name; only its event node counts.
  tree.write("sys/class/input/input5/name", "Kinetra virtual keyboard\n");
  EXPECT_EQ(inputNodesNamed("Kinetra virtual keyboard", sys(), dev()),
            (std::set<std::string>{dev() + "/input/event2", dev() + "/input/event7"}));
  EXPECT_TRUE(inputNodesNamed("Kinetra virtual keyboard", tree.path("none").string()).empty());
}

TEST(DemoMouse, ReportMatchesItsDescriptor) {
  const auto setup = demoMouseSetup("u");
  const auto parsed = zv::driver::HIDOpenReportDescriptor(setup.descriptor);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_FALSE(parsed->usesReportIDs());
  EXPECT_EQ(parsed->reportByteLength(zv::driver::HIDReportType::input, 0), kDemoReportLength);

  const auto report = demoMouseReport({0x8001, -2, 0x1234, -1});
  auto field = [&](std::uint32_t startBit, std::uint32_t bits) {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < bits; ++i) {
      const std::uint32_t bit = startBit + i;
      value |= static_cast<std::uint32_t>((report[bit / 8] >> (bit % 8)) & 1) << i;
    }
    return value;
  };
  for (const auto& buttons : parsed->getButtonCapabilities(zv::driver::HIDReportType::input)) {
    EXPECT_EQ(field(buttons.startBit, 1), 1u);       // button 1
    EXPECT_EQ(field(buttons.startBit + 15, 1), 1u);  // button 16
    EXPECT_EQ(field(buttons.startBit + 1, 14), 0u);
  }
  int seen = 0;
  for (const auto& value : parsed->getValueCapabilities(zv::driver::HIDReportType::input)) {
    for (std::uint16_t usage = value.usageMin; usage <= value.usageMax; ++usage) {
      const std::uint32_t start = value.startBit + (usage - value.usageMin) * value.bitSize;
      const std::uint32_t expected = usage == 0x30 ? 0xFFFE : usage == 0x31 ? 0x1234 : 0xFF;
      EXPECT_EQ(field(start, value.bitSize), expected) << "usage 0x" << std::hex << usage;
      ++seen;
    }
  }
  EXPECT_EQ(seen, 3);
}

// The gadget as configfs must see it, in a tree that stands in for configfs, the controller
// class and /dev.
TEST(UsbGadgetMouse, DescribesTheMouseInConfigfsAndBindsIt) {
  zv::testing::TemporaryTree tree;
  fs::create_directories(tree.path("config/usb_gadget"));
  fs::create_directories(tree.path("udc/dummy_udc.0"));
  // What the kernel makes once the function exists and the gadget is bound.
  tree.write("config/usb_gadget/vmtest/functions/hid.usb0/dev", "245:3\n");
  tree.write("dev/hidg3", "");
  UsbGadgetMouse::Roots roots{tree.path("config").string(), tree.path("udc").string(),
                              tree.path("dev").string()};
  UsbGadgetMouse::Setup setup;
  setup.vendor = kDemoVendor;
  setup.product = kDemoProduct;
  setup.manufacturer = "Zenvor";
  setup.productName = "Demo Mouse";
  setup.serial = kUsbMouseUniq;
  setup.descriptor = {0x05, 0x01, 0x00, 0xC0};  // a 0 byte inside must survive
  setup.reportLength = 7;

  std::string problem;
  auto mouse = UsbGadgetMouse::create(setup, &problem, roots);
  ASSERT_NE(mouse, nullptr) << problem;
  const std::string gadget = "config/usb_gadget/vmtest/";
  EXPECT_EQ(tree.read(gadget + "idVendor"), "0x5a56");
  EXPECT_EQ(tree.read(gadget + "idProduct"), "0x1704");
  EXPECT_EQ(tree.read(gadget + "strings/0x409/serialnumber"), "vmtest-usb");
  EXPECT_EQ(tree.read(gadget + "functions/hid.usb0/report_length"), "7");
  EXPECT_EQ(tree.read(gadget + "functions/hid.usb0/report_desc"),
            std::string("\x05\x01\x00\xC0", 4));
  EXPECT_TRUE(fs::is_symlink(tree.path(gadget + "configs/c.1/hid.usb0")));
  EXPECT_EQ(tree.read(gadget + "UDC"), "dummy_udc.0");
  EXPECT_EQ(mouse->reportNode(), tree.path("dev/hidg3").string());

  const std::uint8_t report[] = {1, 2, 3};
  ASSERT_TRUE(mouse->sendInput(report, 100ms, &problem)) << problem;
  EXPECT_EQ(tree.read("dev/hidg3"), std::string("\x01\x02\x03", 3));
  ASSERT_TRUE(mouse->unplug(&problem)) << problem;
  EXPECT_EQ(tree.read(gadget + "UDC"), "\n");
  ASSERT_TRUE(mouse->plugIn(&problem)) << problem;
  EXPECT_EQ(tree.read(gadget + "UDC"), "dummy_udc.0");
}

TEST(UsbGadgetMouse, SaysWhatIsMissing) {
  zv::testing::TemporaryTree tree;
  UsbGadgetMouse::Roots roots{tree.path("config").string(), tree.path("udc").string(),
                              tree.path("dev").string()};
  std::string problem;
  EXPECT_EQ(UsbGadgetMouse::create({}, &problem, roots), nullptr);
  EXPECT_NE(problem.find("configfs not mounted"), std::string::npos) << problem;
  fs::create_directories(tree.path("config/usb_gadget"));
  EXPECT_EQ(UsbGadgetMouse::create({}, &problem, roots), nullptr);
  EXPECT_NE(problem.find("dummy_hcd"), std::string::npos) << problem;
}

TEST(Latency, NearestRankPercentiles) {
  std::vector<std::chrono::nanoseconds> samples;
  for (int i = 100; i >= 1; --i) samples.emplace_back(i * 1000);
  const LatencySummary summary = summarize(samples);
  EXPECT_EQ(summary.count, 100u);
  EXPECT_EQ(summary.p50, 50us);
  EXPECT_EQ(summary.p99, 99us);
  EXPECT_EQ(summary.max, 100us);
  EXPECT_EQ(metricLine("latency.x", summary),
            "METRIC latency.x n=100 p50_us=50.0 p99_us=99.0 max_us=100.0");

  EXPECT_EQ(summarize({7us}).p99, 7us);
  EXPECT_EQ(summarize({}).count, 0u);
}

// A clock that moves 0.75 s whenever it is read.
CheckList::Clock steppingClock() {
  auto now = std::make_shared<std::chrono::steady_clock::time_point>();
  return [now] { return *now += std::chrono::milliseconds(750); };
}

TEST(CheckList, ReportsEachCheckAndSkipsThoseWhoseNeedsFailed) {
  CheckList checks(steppingClock());
  checks.add("plug", [] { return std::string("plugged"); });
  checks.add("broken", []() -> std::string {
    expect(1 + 1 == 3, "arithmetic is off");
    return "";
  });
  checks.add("throws", []() -> std::string { throw std::runtime_error("boom"); });
  checks.add("after-broken", [] { return std::string("never runs"); }, {"broken"});
  checks.add("after-plug", [] { return std::string(); }, {"plug"});
  std::ostringstream out;
  EXPECT_EQ(checks.run({}, out), 3);
  EXPECT_EQ(out.str(),
            "RUN  plug\nPASS plug (0.75 s): plugged\n"
            "RUN  broken\nFAIL broken (0.75 s): arithmetic is off\n"
            "RUN  throws\nFAIL throws (0.75 s): unexpected error: boom\n"
            "RUN  after-broken\nFAIL after-broken (0.75 s): needs broken, which did not pass\n"
            "RUN  after-plug\nPASS after-plug (0.75 s)\n");
}

TEST(CheckList, RunsOnlyTheNamedChecksAndFailsUnknownNames) {
  CheckList checks(steppingClock());
  int runs = 0;
  checks.add("a", [&] {
    ++runs;
    return std::string();
  });
  checks.add("b", [&] {
    ++runs;
    return std::string();
  });
  std::ostringstream out;
  EXPECT_EQ(checks.run({"b", "typo"}, out), 1);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(out.str(), "FAIL typo: no such check\nRUN  b\nPASS b (0.75 s)\n");
}

// The guest's programs run through the tests' ChildProcess: what the checks read from it.
zv::testing::ChildOptions logTo(const std::filesystem::path& log,
                                std::map<std::string, std::string> environment = {}) {
  zv::testing::ChildOptions options;
  options.output = log;
  options.freshOutput = true;
  options.environment = std::move(environment);
  return options;
}

TEST(GuestPrograms, ReportExitStatusAndOutput) {
  using zv::testing::ChildProcess;
  zv::testing::TemporaryTree tree;
  auto child = ChildProcess::start({"/bin/sh", "-c", "echo one; echo two >&2; exit 3"},
                                   logTo(tree.path("out.log")));
  ASSERT_TRUE(child.ok()) << child.failure().message;
  const auto status = child->wait(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(ChildProcess::describeStatus(*status), "exited with status 3");
  EXPECT_EQ(child->wait(0s), status);  // the status stays known
  EXPECT_EQ(child->outputTail(), "\n    | one\n    | two");
  EXPECT_FALSE(child->signal(SIGTERM));  // nothing left to signal
}

TEST(GuestPrograms, GivenVariablesReplaceInheritedOnes) {
  zv::testing::TemporaryTree tree;
  ::setenv("VMTEST_INHERITED", "inherited", 1);
  // env lists every entry, as a program calling getenv() would meet them.
  auto child = zv::testing::ChildProcess::start(
      {"/usr/bin/env"},
      logTo(tree.path("out.log"), {{"VMTEST_INHERITED", "given"}, {"VMTEST_ADDED", "added"}}));
  ::unsetenv("VMTEST_INHERITED");
  ASSERT_TRUE(child.ok()) << child.failure().message;
  ASSERT_TRUE(child->wait(10s).has_value());
  const std::string output = child->output();
  EXPECT_NE(output.find("VMTEST_INHERITED=given\n"), std::string::npos) << output;
  EXPECT_NE(output.find("VMTEST_ADDED=added\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("VMTEST_INHERITED=inherited"), std::string::npos) << output;
}

TEST(GuestPrograms, AreKilledAndReapedAndAMissingOneIsAFailure) {
  using zv::testing::ChildProcess;
  zv::testing::TemporaryTree tree;
  // Its standard input is /dev/null, so `read` ends at once: the child is gone soon.
  auto child = ChildProcess::start({"/bin/sh", "-c", "read line"}, logTo(tree.path("out.log")));
  ASSERT_TRUE(child.ok()) << child.failure().message;
  ASSERT_TRUE(child->wait(10s).has_value());

  child =
      ChildProcess::start({"/bin/sh", "-c", "exec tail -f /dev/null"}, logTo(tree.path("out.log")));
  ASSERT_TRUE(child.ok()) << child.failure().message;
  EXPECT_TRUE(child->running());
  ASSERT_TRUE(child->signal(SIGKILL));
  const auto status = child->wait(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(ChildProcess::describeStatus(*status), "killed by signal 9");

  const auto missing = ChildProcess::start({"/no/such/program"}, logTo(tree.path("x.log")));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.failure().message, "cannot start /no/such/program: No such file or directory");
}

}  // namespace
}  // namespace zv::vmtest
