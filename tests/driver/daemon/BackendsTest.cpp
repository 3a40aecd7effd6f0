// The pieces under the daemon: the uhid event protocol, finding a mouse in sysfs, the
// access rule and the event loop.
#include <gtest/gtest.h>
#include <linux/uhid.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "DaemonHarness.h"
#include "core/SampleDescriptors.h"
#include "daemon/ZenvorDriver.h"
#include "linux/DeviceLocator.h"
#include "linux/LinuxUhid.h"

namespace zv::driver::testing {
namespace {

namespace fs = std::filesystem;

// LinuxUhid on one end of a socket pair; the test reads and writes the kernel's events on
// the other.
class UhidWire : public ::testing::Test {
 protected:
  void SetUp() override {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    uhid = std::make_unique<LinuxUhid>(ends[0]);
    kernel = ends[1];
  }
  void TearDown() override {
    uhid.reset();
    close(kernel);
  }
  std::unique_ptr<uhid_event> receive() {
    auto event = std::make_unique<uhid_event>();
    std::memset(event.get(), 0, sizeof *event);
    received = recv(kernel, event.get(), sizeof *event, MSG_DONTWAIT);
    return event;
  }
  void deliver(const uhid_event& event) { send(kernel, &event, sizeof event, 0); }

  std::unique_ptr<LinuxUhid> uhid;
  int kernel = -1;
  ssize_t received = 0;
};

TEST_F(UhidWire, CreateInputAndDestroy) {
  UhidCreateParams params;
  params.name = std::string(200, 'n');  // longer than the field: cut, still terminated
  params.phys = "usb-0000:00:14.0-1/input0";
  params.bus = kBusBluetooth;
  params.vendor = 0x5A56;
  params.product = 0x1710;
  params.version = 0x0111;
  params.descriptor = {0x05, 0x01, 0x09, 0x02};
  ASSERT_EQ(uhid->create(params), 0);
  auto event = receive();
  ASSERT_EQ(event->type, UHID_CREATE2);
  const uhid_create2_req& c = event->u.create2;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.name)), std::string(127, 'n'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.phys)), params.phys);
  EXPECT_EQ(c.bus, kBusBluetooth);
  EXPECT_EQ(c.vendor, 0x5A56u);
  EXPECT_EQ(c.product, 0x1710u);
  EXPECT_EQ(c.version, 0x0111u);
  EXPECT_EQ(c.rd_size, 4);
  EXPECT_EQ(c.rd_data[3], 0x02);

  const std::uint8_t report[] = {0xF1, 1, 0, 0xFF, 0xFF};
  ASSERT_EQ(uhid->input(report), 0);
  event = receive();
  EXPECT_EQ(event->type, UHID_INPUT2);
  EXPECT_EQ(event->u.input2.size, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(event->u.input2.data, event->u.input2.data + 5),
            std::vector<std::uint8_t>(std::begin(report), std::end(report)));
  // Only the report's bytes travel, not the whole 4 KiB buffer.
  EXPECT_EQ(received, static_cast<ssize_t>(offsetof(uhid_event, u.input2.data) + 5));

  std::vector<std::uint8_t> tooLong(UHID_DATA_MAX + 1);
  EXPECT_EQ(uhid->input(tooLong), -EINVAL);

  uhid->destroy();
  EXPECT_EQ(receive()->type, UHID_DESTROY);
  uhid->destroy();  // once only
  receive();
  EXPECT_LT(received, 0);
}

TEST_F(UhidWire, RequestsAndAnswers) {
  auto event = std::make_unique<uhid_event>();
  std::memset(event.get(), 0, sizeof *event);
  event->type = UHID_GET_REPORT;
  event->u.get_report = {41, 3, UHID_FEATURE_REPORT};
  deliver(*event);
  event->type = UHID_SET_REPORT;
  event->u.set_report.id = 42;
  event->u.set_report.rnum = 4;
  event->u.set_report.rtype = UHID_OUTPUT_REPORT;
  event->u.set_report.size = 2;
  event->u.set_report.data[0] = 4;
  event->u.set_report.data[1] = 9;
  deliver(*event);
  event->type = UHID_OUTPUT;
  event->u.output.size = 60000;  // a size beyond the buffer is cut to it
  event->u.output.rtype = UHID_OUTPUT_REPORT;
  deliver(*event);
  event->type = UHID_OPEN;
  deliver(*event);

  auto get = uhid->readRequest();
  ASSERT_TRUE(get);
  EXPECT_EQ(get->kind, UhidRequest::Kind::getReport);
  EXPECT_EQ(get->id, 41u);
  EXPECT_EQ(get->reportNumber, 3);
  EXPECT_EQ(get->reportType, UhidRequest::feature);
  auto set = uhid->readRequest();
  ASSERT_TRUE(set);
  EXPECT_EQ(set->kind, UhidRequest::Kind::setReport);
  EXPECT_EQ(set->data, (std::vector<std::uint8_t>{4, 9}));
  auto output = uhid->readRequest();
  ASSERT_TRUE(output);
  EXPECT_EQ(output->data.size(), std::size_t{UHID_DATA_MAX});
  EXPECT_EQ(uhid->readRequest()->kind, UhidRequest::Kind::open);
  EXPECT_FALSE(uhid->readRequest());  // nothing waits

  const std::uint8_t answer[] = {3, 0x77};
  uhid->answerGetReport(41, 0, answer);
  auto reply = receive();
  EXPECT_EQ(reply->type, UHID_GET_REPORT_REPLY);
  EXPECT_EQ(reply->u.get_report_reply.id, 41u);
  EXPECT_EQ(reply->u.get_report_reply.size, 2);
  EXPECT_EQ(reply->u.get_report_reply.data[1], 0x77);
  uhid->answerSetReport(42, EIO);
  reply = receive();
  EXPECT_EQ(reply->type, UHID_SET_REPORT_REPLY);
  EXPECT_EQ(reply->u.set_report_reply.err, EIO);
}

// A sysfs tree of our own (KINETRA_SYSFS_ROOT).
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::path(folder.path()) / "sys";
    setenv("KINETRA_SYSFS_ROOT", root.c_str(), 1);
    setenv("KINETRA_DEV_ROOT", "/dev", 1);
  }
  void TearDown() override {
    unsetenv("KINETRA_SYSFS_ROOT");
    unsetenv("KINETRA_DEV_ROOT");
  }
  void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }
  // A HID device at `device` (relative to sysfs) with hidraw node `node`.
  void hid(const std::string& device, const std::string& node) {
    fs::create_directories(root / device);
    fs::create_directories(root / "class" / "hidraw" / node);
    fs::create_symlink(root / device, root / "class" / "hidraw" / node / "device");
  }
  ScratchFolder folder;
  fs::path root;
};

TEST_F(FakeSysfs, AUsbMouseWithItsEventNodesAndUsbAddress) {
  const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
  const std::string dev = usb + "/1-2:1.0/0003:5A56:1704.0004";
  hid(dev, "hidraw3");
  write(root / usb / "busnum", "1");
  write(root / usb / "devnum", "7");
  write(root / usb / "bcdDevice", "0200");
  write(root / dev / "input" / "input12" / "id" / "version", "0110");
  fs::create_directories(root / dev / "input" / "input12" / "event5");
  fs::create_directories(root / dev / "input" / "input12" / "mouse2");
  fs::create_directories(root / dev / "input" / "input13" / "event6");

  std::string error;
  const auto found = locateHidraw("/dev/hidraw3", &error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(found->name, "hidraw3");
  EXPECT_EQ(found->bus, 3);
  EXPECT_FALSE(found->virtualUhid);
  EXPECT_EQ(found->eventNodes,
            (std::vector<std::string>{"/dev/input/event5", "/dev/input/event6"}));
  EXPECT_EQ(found->version, 0x0110u);
  EXPECT_TRUE(found->usb);
  EXPECT_EQ(found->usbBus, 1u);
  EXPECT_EQ(found->usbAddress, 7u);
}

TEST_F(FakeSysfs, AUhidDeviceIsRecognised) {
  hid("devices/virtual/misc/uhid/0003:5A56:1704.0009", "hidraw9");
  std::string error;
  const auto found = locateHidraw("/dev/hidraw9", &error);
  ASSERT_TRUE(found) << error;
  EXPECT_TRUE(found->virtualUhid);
  EXPECT_FALSE(found->usb);
}

TEST_F(FakeSysfs, ABluetoothMouseHasNoUsbAddress) {
  const std::string adapter = "devices/pci0000:00/0000:00:14.0/usb1/1-5";
  hid(adapter + "/1-5:1.0/bluetooth/hci0/hci0:256/0005:5A56:1710.000A", "hidraw10");
  write(root / adapter / "busnum", "1");
  write(root / adapter / "devnum", "3");
  std::string error;
  const auto found = locateHidraw("/dev/hidraw10", &error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(found->bus, 5);
  EXPECT_FALSE(found->usb);  // the adapter above is not the mouse
}

TEST_F(FakeSysfs, NodesWithoutAHidDeviceAreRefused) {
  std::string error;
  EXPECT_FALSE(locateHidraw("/dev/hidraw77", &error));
  EXPECT_NE(error.find("no HID device for /dev/hidraw77"), std::string::npos) << error;
  EXPECT_FALSE(locateHidraw("/dev/input/event3", &error));
  EXPECT_EQ(error, "/dev/input/event3 is not a hidraw node (expected /dev/hidrawN)");
}

TEST(MouseInterface, OnlyMiceAndGamePadsAreDriven) {
  std::string why;
  const auto mouse = sampleDescriptorForType(1);
  EXPECT_TRUE(drivesInterface(mouse, &why));
  // A keyboard interface of the same device: Generic Desktop, Keyboard.
  const std::vector<std::uint8_t> keyboard = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07,
                                              0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
                                              0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xC0};
  EXPECT_FALSE(drivesInterface(keyboard, &why));
  EXPECT_EQ(why, "its primary usage is page 0x01 usage 0x06, not a mouse");
  // A receiver whose keyboard collection comes before its mouse.
  std::vector<std::uint8_t> receiver = keyboard;
  const std::vector<std::uint8_t> mouseCollection = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x30,
                                                     0x75, 0x08, 0x95, 0x01, 0x81, 0x06, 0xC0};
  receiver.insert(receiver.end(), mouseCollection.begin(), mouseCollection.end());
  EXPECT_TRUE(drivesInterface(receiver, &why));
  // The game pad of the replacement descriptors.
  EXPECT_TRUE(
      drivesInterface({kReplacementDescriptorType2, kReplacementDescriptorType2Length}, &why));
}

TEST(AccessRuleTest, RootTheDriversUserAndTheSeatsActiveUser) {
  FakeSeatSessions seats;
  AccessRule rule("seat1", 500, seats);
  EXPECT_TRUE(rule.decide(0).allowed);
  EXPECT_TRUE(rule.decide(500).allowed);
  EXPECT_FALSE(rule.decide(1000).allowed);
  EXPECT_EQ(rule.decide(1000).reason, "no active session on seat1");
  seats.setActive("seat0", 1000);  // another seat's user
  EXPECT_FALSE(rule.decide(1000).allowed);
  seats.setActive("seat1", 1000);
  EXPECT_TRUE(rule.decide(1000).allowed);
  EXPECT_EQ(rule.decide(1001).reason, "not the active user of seat1 (uid 1000)");
}

TEST(EventLoopTest, TimersRunInDeadlineOrderAndAWatchRemovedMidRoundIsNotCalled) {
  EventLoop loop;
  std::vector<int> order;
  loop.addTimer(std::chrono::milliseconds(2), [&] { order.push_back(2); });
  loop.addTimer(std::chrono::milliseconds(1), [&] { order.push_back(1); });
  const auto cancelled = loop.addTimer(std::chrono::milliseconds(1), [&] { order.push_back(9); });
  loop.cancelTimer(cancelled);
  loop.addTimer(std::chrono::milliseconds(3), [&] { loop.stop(); });
  loop.run();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));

  EventLoop second;
  int a[2], b[2];
  ASSERT_EQ(pipe(a), 0);
  ASSERT_EQ(pipe(b), 0);
  int calls = 0;
  // Whichever runs first removes the other: exactly one is called.
  char byte;
  second.watch(a[0], EPOLLIN, [&](std::uint32_t) {
    ++calls;
    EXPECT_EQ(read(a[0], &byte, 1), 1);
    second.unwatch(b[0]);
  });
  second.watch(b[0], EPOLLIN, [&](std::uint32_t) {
    ++calls;
    EXPECT_EQ(read(b[0], &byte, 1), 1);
    second.unwatch(a[0]);
  });
  ASSERT_EQ(write(a[1], "x", 1), 1);
  ASSERT_EQ(write(b[1], "x", 1), 1);
  second.runOnce(1000);
  EXPECT_EQ(calls, 1);
  std::thread poster([&] { second.post([&] { ++calls; }); });
  poster.join();
  second.runOnce(1000);
  EXPECT_EQ(calls, 2);
  for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
}

}  // namespace
}  // namespace zv::driver::testing
