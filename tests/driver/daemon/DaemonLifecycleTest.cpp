// Starting, serving the system's requests, and ending: unplug, the socket file, and a
// daemon killed outright leaving nothing behind.
#include <gtest/gtest.h>
#include <linux/uhid.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "DaemonHarness.h"
#include "daemon/ZenvorDriver.h"
#include "linux/LinuxUhid.h"
#include "replay/DescriptorFile.h"

namespace zv::driver::testing {
namespace {

using namespace userclient;

TEST(DaemonLifecycle, StartPresentsTheRealMouseAndGrabsItsNodes) {
  DaemonHarness d;
  const auto created = d.uhid.created();
  ASSERT_TRUE(created);
  EXPECT_EQ(created->bus, kBusUSB);
  EXPECT_EQ(created->vendor, 0x5A56u);
  EXPECT_EQ(created->product, 0x1704u);
  EXPECT_EQ(created->version, 0x0110u);
  EXPECT_EQ(created->name, "Test Mouse (zenvor-driver)");
  EXPECT_EQ(created->phys, "zenvor-driver/usb-test/input0") << "the mark of a presented mouse";
  EXPECT_EQ(created->uniq, "serial-1");
  EXPECT_EQ(created->descriptor, d.hidraw.descriptor());  // type 1 keeps its own descriptor
  EXPECT_EQ(d.grab.grabbed(), (std::vector<std::string>{"/dev/input/event7", "/dev/input/event8"}));
  EXPECT_TRUE(d.log.contains("Skarn USB driver v1.10 loaded\n"));
  struct stat st;
  ASSERT_EQ(stat(d.socketPath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST(DaemonLifecycle, AnyOtherMouseIsPresentedAsItIsAndNeverSentVendorRequests) {
  // The split receiver: buttons, wheel and pan in report 1, X and Y in report 2.
  std::string error;
  const auto descriptor =
      replay::readDescriptorFile(ZV_SOURCE_DIR "/data/mice/split-receiver.hid", &error);
  ASSERT_TRUE(descriptor) << error;
  DaemonHarness d({.product = 0x0B05, .descriptor = *descriptor});
  EXPECT_EQ(d.uhid.created()->descriptor, d.hidraw.descriptor());
  EXPECT_TRUE(d.usb.transfers().empty()) << "the type word is asked of our products only";
  auto c = d.connect();
  const auto info = ZVDeviceInfo::decode(call(*c, sGetDeviceInfo)->structure);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->typeID, 0u);
  // A held button goes out as the receiver's own report 1; report 2 passes as it is.
  EXPECT_EQ(call(*c, sSetButtonStates, {0x2})->result, kReturnSuccess);
  EXPECT_EQ(d.inputs().back(), (std::vector<std::uint8_t>{0x01, 0x02, 0x00, 0x00}));
  d.report({0x02, 0x05, 0x00, 0x00});
  EXPECT_EQ(d.inputs().back(), (std::vector<std::uint8_t>{0x02, 0x05, 0x00, 0x00}));
}

TEST(DaemonLifecycle, AReplacementDescriptorIsWhatTheSystemSees) {
  DaemonHarness d({.product = 0x5262});
  EXPECT_EQ(d.uhid.created()->descriptor.size(), 275u);
}

TEST(DaemonLifecycle, UnplugEndsTheDaemonCleanly) {
  DaemonHarness d;
  auto c = d.listener();
  const std::string path = d.socketPath();
  d.hidraw.unplug();
  ASSERT_TRUE(waitFor([&] { return d.finished(); }));
  EXPECT_EQ(d.exitStatus(), 0);
  EXPECT_TRUE(d.uhid.destroyed());
  EXPECT_EQ(d.grab.releases(), 1);
  std::string error;
  EXPECT_FALSE(c->readCompletion(20000, &error));
  EXPECT_EQ(error, "the driver closed the connection");
  EXPECT_FALSE(std::filesystem::exists(path));
  const auto lines = d.log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Skarn USB driver vX.10 unloaded\n");
}

TEST(DaemonLifecycle, AMouseThatCannotBePresentedIsNeitherGrabbedNorServed) {
  DaemonHarness d({.start = false});
  d.uhid.setCreateError(EACCES);
  std::string error;
  EXPECT_FALSE(d.start(&error));
  EXPECT_EQ(error, "cannot create the rewritten mouse through uhid: Permission denied");
  EXPECT_TRUE(d.grab.grabbed().empty());
  EXPECT_TRUE(d.log.contains("loaded"));  // the load message comes whatever the outcome
  EXPECT_TRUE(std::filesystem::is_empty(d.servicesFolder()));
}

TEST(DaemonLifecycle, ANodeThatCannotBeGrabbedIsLoggedAndTheRestServed) {
  DaemonHarness d({.start = false});
  d.grab.refuse("/dev/input/event8");
  ASSERT_TRUE(d.start());
  EXPECT_EQ(d.grab.grabbed(), std::vector<std::string>{"/dev/input/event7"});
  EXPECT_TRUE(d.log.contains("cannot grab /dev/input/event8"));
}

TEST(DaemonLifecycle, SystemRequestsAreForwardedToTheMouse) {
  DaemonHarness d;
  d.hidraw.setFeatureReport(3, {3, 0x10, 0x20});
  d.uhid.pushRequest({UhidRequest::Kind::getReport, 7, 3, UhidRequest::feature, {}});
  d.uhid.pushRequest({UhidRequest::Kind::getReport, 8, 1, UhidRequest::input, {}});
  d.uhid.pushRequest({UhidRequest::Kind::setReport, 9, 4, UhidRequest::feature, {4, 1, 2}});
  d.uhid.pushRequest({UhidRequest::Kind::output, 0, 0, UhidRequest::outputType, {0, 0xFF, 0xF1}});
  d.uhid.pushRequest({UhidRequest::Kind::getReport, 10, 9, UhidRequest::feature, {}});
  ASSERT_TRUE(waitFor([&] { return d.uhid.answers().size() == 4; }));
  const auto answers = d.uhid.answers();
  auto answer = [&](std::uint32_t id) {
    for (const auto& a : answers) {
      if (a.id == id) return a;
    }
    return FakeUhid::Answer{};
  };
  EXPECT_EQ(answer(7).err, 0);
  EXPECT_EQ(answer(7).data, (std::vector<std::uint8_t>{3, 0x10, 0x20}));
  EXPECT_EQ(answer(8).err, EIO);  // only feature reports are read from the mouse
  EXPECT_FALSE(answer(9).getReport);
  EXPECT_EQ(answer(9).err, 0);
  EXPECT_EQ(answer(10).err, EPIPE);  // the mouse's own refusal
  EXPECT_EQ(d.hidraw.featuresSet(), (std::vector<std::vector<std::uint8_t>>{{4, 1, 2}}));
  ASSERT_TRUE(waitFor([&] { return d.hidraw.outputsWritten().size() == 1; }));
  EXPECT_EQ(d.hidraw.outputsWritten()[0], (std::vector<std::uint8_t>{0, 0xFF, 0xF1}));
}

TEST(DaemonLifecycle, AStaleSocketIsReplacedButALiveOneIsNot) {
  ScratchFolder folder;
  const std::string path = folder.path() + "/com_Zenvor_driver_usb_Skarn@test-mouse";
  {
    // What a daemon killed with SIGKILL leaves: a socket file nobody serves.
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  }
  DaemonHarness first({.start = false});
  std::string error;
  UserClientServer server(first.loop, *first.driver, first.access);
  ASSERT_TRUE(server.listen(folder.path(), "test-mouse", &error)) << error;
  UserClientServer second(first.loop, *first.driver, first.access);
  EXPECT_FALSE(second.listen(folder.path(), "test-mouse", &error));
  EXPECT_EQ(error, "another zenvor-driver already serves " + path);
  server.closeAll();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(DaemonLifecycle, AServicesFolderOthersMayWriteIsRefused) {
  ScratchFolder folder;
  chmod(folder.path().c_str(), 0777);
  DaemonHarness d({.start = false});
  UserClientServer server(d.loop, *d.driver, d.access);
  std::string error;
  EXPECT_FALSE(server.listen(folder.path(), "test-mouse", &error));
  EXPECT_NE(error.find("may be written by other users"), std::string::npos) << error;
}

// The kernel's side of the SIGKILL model: the uhid device and the grab each live exactly as
// long as the descriptor of the process that made them. Here the descriptors are sockets
// whose other ends the test holds, so a killed daemon shows as those ends closing.
TEST(DaemonLifecycle, NothingOutlivesADaemonKilledOutright) {
  ScratchFolder folder;
  int uhidPair[2], grabPair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, uhidPair), 0);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, grabPair), 0);
  HidDeviceIdentity id;
  id.vendor = 0x5A56;
  id.product = 0x1704;
  FakeHidraw hidraw(id, {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08,
                         0x15, 0x00, 0x25, 0x01, 0x95, 0x08, 0x75, 0x01, 0x81, 0x02, 0xC0});
  const pid_t child = fork();
  if (child == 0) {
    close(uhidPair[1]);
    close(grabPair[1]);
    // The grab is held as long as this descriptor is open, as EVIOCGRAB on an event node.
    class SocketGrab : public InputGrab {
     public:
      explicit SocketGrab(int fd) : fd_(fd) {}
      int grab(const std::vector<std::string>& nodes, std::vector<std::string>*) override {
        return static_cast<int>(nodes.size());
      }
      void release() override {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
      }

     private:
      int fd_;
    } grab(grabPair[0]);
    LinuxUhid uhid(uhidPair[0]);
    FakeSeatSessions seats;
    AccessRule access("seat0", 0, seats);
    EventLoop loop;
    DriverBackends backends{&hidraw, &uhid, &grab, {"/dev/input/event9"}, nullptr};
    auto driver = makeDriver(kBusUSB, loop, std::move(backends));
    Daemon daemon(loop, *driver, access);
    std::string error;
    if (!daemon.start(folder.path(), "test-mouse", &error)) _exit(1);
    _exit(daemon.run());
  }
  close(uhidPair[0]);
  close(grabPair[0]);
  auto readEvent = [&](uhid_event* event) {
    pollfd p{uhidPair[1], POLLIN, 0};
    if (poll(&p, 1, 20000) != 1) return ssize_t{-1};
    return recv(uhidPair[1], event, sizeof *event, 0);
  };
  auto event = std::make_unique<uhid_event>();
  ASSERT_GT(readEvent(event.get()), 0);
  EXPECT_EQ(event->type, UHID_CREATE2);
  EXPECT_EQ(event->u.create2.product, 0x1704u);
  ASSERT_TRUE(hidraw.sendReport(std::vector<std::uint8_t>{0x01}));
  ASSERT_GT(readEvent(event.get()), 0);
  EXPECT_EQ(event->type, UHID_INPUT2);
  EXPECT_EQ(event->u.input2.size, 1);

  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  // The kernel's ends see the descriptors close: device removed, grab dropped.
  EXPECT_EQ(readEvent(event.get()), 0);
  char byte;
  EXPECT_EQ(recv(grabPair[1], &byte, 1, 0), 0);
  close(uhidPair[1]);
  close(grabPair[1]);

  // A daemon started again serves the same name at once.
  DaemonHarness again({.start = false});
  UserClientServer server(again.loop, *again.driver, again.access);
  std::string error;
  EXPECT_TRUE(server.listen(folder.path(), "test-mouse", &error)) << error;
}

}  // namespace
}  // namespace zv::driver::testing
