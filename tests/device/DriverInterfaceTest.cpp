// The driver interface against the fake HID system and a driver service on a real
// socket: matching, connecting and disconnecting, element events (remapping, scaling,
// only on change), the device operations as the daemon receives them, reports, and
// connecting while the daemon comes and goes.
#include "device/DriverInterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "device/DriverSets.h"
#include "device/HIDUtilities.h"
#include "json/CJSONDeserializer.h"
#include "log/Log.h"
#include "platform/RunLoop.h"
#include "testing/FakeDriverService.h"
#include "testing/FakeHidManager.h"
#include "testing/TemporaryTree.h"

namespace zv::device {
namespace {

using namespace std::chrono_literals;
using platform::RunLoop;
using testing::FakeDriverService;
using testing::FakeHidDevice;
using Lines = std::vector<std::string>;

constexpr std::int64_t kVendor = 0x5A56;
constexpr std::int64_t kProduct = 0x1704;
constexpr const char* kClass = FakeDriverService::kDefaultClass;

// What the interface told its delegate, as lines.
class RecordingDelegate : public DriverInterfaceDelegate {
 public:
  void onConnect(DriverInterface&) override { add("connect"); }
  void onDisconnect(DriverInterface&) override { add("disconnect"); }
  void onElementEvent(std::uint32_t element, std::int32_t value, std::int32_t) override {
    char text[48];
    std::snprintf(text, sizeof text, "event 0x%x %d", element, value);
    add(text);
  }
  void onInputReport(std::span<const std::uint8_t> report) override {
    add("report " + std::to_string(report.size()) + " bytes");
  }
  Lines take() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
  }
  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }

 private:
  void add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  mutable std::mutex mutex_;
  Lines lines_;
};

class DriverInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetDriverSets();
    // No real waits: matching connects at the next dispatch, retries come quickly.
    DriverInterface::setTiming({0ms, 0ms, 5ms, 3});
  }
  void TearDown() override {
    resetDriverSets();
    DriverInterface::setTiming({});
  }

  static bool runUntil(const std::function<bool()>& condition) {
    return RunLoop::main().runUntil(condition, 10s);
  }
  std::shared_ptr<DriverInterface> makeInterface(std::string_view name = kClass) {
    return DriverInterface::create(kVendor, kProduct, 1, &delegate, name);
  }
  // A mouse plugged in and an interface connected to it through `service`.
  std::shared_ptr<DriverInterface> connectMouse(FakeDriverService& service) {
    mouse = hid.plug(FakeHidDevice::make(kVendor, kProduct));
    auto driver = makeInterface();
    EXPECT_TRUE(runUntil([&] { return delegate.count() > 0; })) << "never connected";
    EXPECT_EQ(delegate.take(), Lines{"connect"});
    EXPECT_TRUE(service.waitForRegistered(1));
    return driver;
  }
  // Sends element events and waits until `expected` delegate lines arrived.
  Lines eventsAfter(const std::function<void()>& send, std::size_t expected) {
    send();
    runUntil([&] { return delegate.count() >= expected; });
    // Anything beyond what was expected would arrive with the same dispatches.
    RunLoop::main().dispatchPending();
    return delegate.take();
  }

  testing::TemporaryTree tree;
  testing::FakeHidSystem hid;
  RecordingDelegate delegate;
  std::shared_ptr<FakeHidDevice> mouse;
};

TEST_F(DriverInterfaceTest, ConnectSequenceRegistersThenOverridesThenSendsTheConnectReport) {
  FakeDriverService service;
  auto driver = makeInterface();
  driver->overrideElement(0x90005, true);  // before any connection: remembered only
  EXPECT_TRUE(service.calls().empty());

  mouse = hid.plug(FakeHidDevice::make(kVendor, kProduct));
  ASSERT_TRUE(runUntil([&] { return delegate.count() > 0; }));
  EXPECT_EQ(delegate.take(), Lines{"connect"});
  EXPECT_TRUE(driver->connected());
  EXPECT_TRUE(driver->loaded());
  EXPECT_EQ(driver->hidDevice(), mouse);
  EXPECT_EQ(driver->servicePath(), service.path());
  EXPECT_EQ(service.calls(), (Lines{"sSetElementEventCallback", "sElementOverride 0x90005 1"}));
  ASSERT_EQ(mouse->sentReports().size(), 1u);
  const auto report = mouse->sentReports()[0];
  EXPECT_EQ(report.type, platform::HidReportType::Output);
  EXPECT_EQ(report.reportId, 0);
  EXPECT_EQ(report.bytes, std::vector<std::uint8_t>(std::begin(DriverInterface::kConnectReport),
                                                    std::end(DriverInterface::kConnectReport)));
  mouse->sendInputReport({1, 2, 3});
  EXPECT_EQ(delegate.take(), Lines{"report 3 bytes"});

  // A second match of the same device (a second HID manager) changes nothing.
  startMatching();
  RunLoop::main().dispatchPending();
  RunLoop::main().dispatchPending();
  EXPECT_EQ(delegate.take(), Lines{});
  EXPECT_EQ(service.connectedClients(), 1u);
}

TEST_F(DriverInterfaceTest, EventsOnlyOnChangeAndAgainAfterAReconnect) {
  FakeDriverService service;
  auto driver = connectMouse(service);
  EXPECT_EQ(eventsAfter(
                [&] {
                  service.sendElementEvent(0x90004, 1);
                  service.sendElementEvent(0x90004, 1);
                  service.sendElementEvent(0x90004, 0);
                  service.sendElementEvent(0x90007, 1);
                },
                3),
            (Lines{"event 0x90004 1", "event 0x90004 0", "event 0x90007 1"}));
  EXPECT_EQ(driver->elementMap(), (ElementMap{{0x90004, 0}, {0x90007, 1}}));

  hid.unplug(mouse);
  ASSERT_TRUE(runUntil([&] { return delegate.count() > 0; }));
  EXPECT_EQ(delegate.take(), Lines{"disconnect"});
  EXPECT_TRUE(driver->elementMap().empty());
  EXPECT_FALSE(driver->connected());

  hid.plug(mouse);
  ASSERT_TRUE(runUntil([&] { return delegate.count() > 0; }));
  EXPECT_EQ(delegate.take(), Lines{"connect"});
  ASSERT_TRUE(service.waitForRegistered(1));
  EXPECT_EQ(eventsAfter([&] { service.sendElementEvent(0x90007, 1); }, 1), Lines{"event 0x90007 1"})
      << "the same value is delivered again after a reconnect";
}

TEST_F(DriverInterfaceTest, RemappingBothWaysAndAxisScaling) {
  FakeDriverService service;
  auto driver = connectMouse(service);
  auto remapping =
      json::CJSONDeserializer().deserializeAsDictionary(R"({"3": 5, "x": 7, "8": "9"})");
  driver->setElementRemapping(*remapping);
  EXPECT_EQ(driver->toDevice(3), 5u);
  EXPECT_EQ(driver->fromDevice(5), 3u);
  EXPECT_EQ(driver->toDevice(8), 8u) << "an entry whose value is not a number is skipped";

  driver->overrideElement(3, true);
  driver->setMouseAxis(3, kHorizontalAxis);
  driver->setHatElement(3);
  driver->useHIDElement(0x90003, kVerticalAxis);
  EXPECT_EQ(service.calls(), (Lines{"sSetElementEventCallback", "sElementOverride 5 1",
                                    "sSetMouseAxis 5 1", "sSetHatControl 3", "sSetMouseAxis 3 2"}));
  EXPECT_EQ(driver->overrideDictionary(), (std::set<std::uint32_t>{5}));

  EXPECT_EQ(eventsAfter(
                [&] {
                  service.sendElementEvent(5, 1);
                  service.sendElementEvent(0x10030, 32768, 16);
                  service.sendElementEvent(0x10030, 65535, 16);
                  service.sendElementEvent(0x10031, 0, 16);
                  service.sendElementEvent(0x10032, 0xFFFFFFFFu, 16);
                  service.sendElementEvent(0x90009, 300);
                },
                6),
            (Lines{"event 0x3 1", "event 0x10030 50", "event 0x10030 99", "event 0x10031 0",
                   "event 0x10032 6553600", "event 0x90009 300"}));
}

TEST_F(DriverInterfaceTest, CompletionsWithoutSixWordsAndGarbageAreIgnored) {
  FakeDriverService service;
  auto driver = connectMouse(service);
  auto completion = userclient::encodeCompletion(0, 0x90004, 1, 1);
  std::vector<std::uint8_t> five(completion.begin(), completion.end() - 8);
  userclient::wire::putU32(five.data() + 8, 5);
  EXPECT_EQ(eventsAfter(
                [&] {
                  service.sendFrame(five);
                  service.sendFrame({0xDE, 0xAD});
                  service.sendFrame(std::vector<std::uint8_t>(100, 0x04));
                  service.sendElementEvent(0x90006, 1);
                },
                1),
            Lines{"event 0x90006 1"});
  EXPECT_TRUE(driver->connected()) << "a bad frame does not end the connection";
}

TEST_F(DriverInterfaceTest, OverridesAreReappliedAfterAReplug) {
  FakeDriverService service;
  auto driver = connectMouse(service);
  driver->overrideElement(0x90005, true);
  driver->overrideElement(0x90006, true);
  driver->overrideElement(0x90006, false);
  hid.unplug(mouse);
  ASSERT_TRUE(runUntil([&] { return !driver->connected(); }));
  service.clearCalls();
  hid.plug(mouse);
  ASSERT_TRUE(runUntil([&] { return service.calls().size() >= 2; }));
  EXPECT_EQ(service.calls(), (Lines{"sSetElementEventCallback", "sElementOverride 0x90005 1"}));
}

TEST_F(DriverInterfaceTest, DevicePresentBeforeRegistrationConnectsWithoutTheMatchWait) {
  FakeDriverService service;
  DriverInterface::setTiming({1h, 0ms, 5ms, 3});
  startMatching();
  mouse = hid.plug(FakeHidDevice::make(kVendor, kProduct));
  ASSERT_TRUE(runUntil([&] {
    const DriverSet* set = findRegisteredDeviceByVidPid(kVendor, kProduct);
    return set && set->device == mouse;
  }));
  auto driver = makeInterface();
  ASSERT_TRUE(runUntil([&] { return delegate.count() > 0; }));
  EXPECT_EQ(delegate.take(), Lines{"connect"});

  // A device matched after registration waits out the match delay.
  delegate.take();
  auto other = DriverInterface::create(kVendor, 0x1705, 0, &delegate, kClass);
  hid.plug(FakeHidDevice::make(kVendor, 0x1705));
  RunLoop::main().dispatchPending();
  RunLoop::main().dispatchPending();
  EXPECT_FALSE(other->connected());
}

TEST_F(DriverInterfaceTest, OnlyAMouseOrGamePadNodeReachesTheInterfaces) {
  FakeDriverService service;
  // The keyboard and vendor nodes of the same product come before and after the mouse
  // node, with and without a registered interface.
  auto keyboard = hid.plug(FakeHidDevice::make(kVendor, kProduct, 6));
  startMatching();
  RunLoop::main().dispatchPending();
  const DriverSet* set = findRegisteredDeviceByVidPid(kVendor, kProduct);
  EXPECT_TRUE(!set || !set->device) << "a keyboard node is never the set's device";

  auto driver = makeInterface();
  mouse = hid.plug(FakeHidDevice::make(kVendor, kProduct, 2));
  auto vendorNode = FakeHidDevice::make(kVendor, kProduct, 0);
  vendorNode->setProperty("PrimaryUsage", std::string("2"));  // text, not a number: 0
  hid.plug(vendorNode);
  ASSERT_TRUE(runUntil([&] { return driver->connected(); }));
  RunLoop::main().dispatchPending();
  EXPECT_EQ(driver->hidDevice(), mouse);
  EXPECT_EQ(findRegisteredDeviceByVidPid(kVendor, kProduct)->device, mouse);

  // Removing a node that is not the set's device disconnects nothing.
  hid.unplug(keyboard);
  hid.unplug(vendorNode);
  RunLoop::main().dispatchPending();
  EXPECT_TRUE(driver->connected());
}

TEST(HIDUtilities, NumbersOnlyElseZeroAndFailure) {
  auto device = FakeHidDevice::make(0x5A56, 0x1704);
  device->setProperty("VendorID", std::string("5A56"));
  device->setProperty("ProductID", std::int64_t{0x1'0000'1704});
  std::int32_t value = 7;
  EXPECT_FALSE(IOHIDDevice_GetLongProperty(device.get(), "VendorID", &value));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(IOHIDDevice_GetVendorID(device.get()), 0) << "text is not a number";
  EXPECT_EQ(IOHIDDevice_GetProductID(device.get()), 0x1704) << "cut to 32 bits";
  EXPECT_EQ(IOHIDDevice_GetPrimaryUsage(device.get()), 2);
  EXPECT_FALSE(IOHIDDevice_GetLongProperty(device.get(), "Missing", &value));
  EXPECT_FALSE(IOHIDDevice_GetLongProperty(nullptr, "VendorID", &value));
  EXPECT_EQ(IOHIDDevice_GetPrimaryUsage(nullptr), 0);
}

TEST_F(DriverInterfaceTest, RetriesUntilTheDaemonAppearsAndGivesUpWithALogLine) {
  Lines logged;
  std::mutex logMutex;
  const auto previousSink = log::setLogSink([&](const log::LogRecord& record) {
    std::lock_guard lock(logMutex);
    logged.emplace_back(record.message);
  });
  const auto previousThreshold = log::logThreshold();
  log::setLogThreshold(static_cast<int>(log::ZVLogLevel::Error));

  // No service yet: the interface keeps trying; the service appears and it connects.
  DriverInterface::setTiming({0ms, 0ms, 20ms, 1000});
  mouse = hid.plug(FakeHidDevice::make(kVendor, kProduct));
  auto driver = makeInterface();
  RunLoop::main().dispatchPending();
  EXPECT_FALSE(driver->connected());
  EXPECT_FALSE(driver->loaded());
  {
    FakeDriverService service;
    ASSERT_TRUE(runUntil([&] { return delegate.count() == 1; }));
    EXPECT_EQ(delegate.take(), Lines{"connect"});

    // The daemon goes away: disconnected, and connected again when it is back.
    service.dropClients();
    ASSERT_TRUE(runUntil([&] { return delegate.count() == 2; }));
    EXPECT_EQ(delegate.take(), (Lines{"disconnect", "connect"}));
  }
  // The service is gone for good: after the bounded attempts, one clear line.
  ASSERT_TRUE(runUntil([&] { return !driver->connected(); }));
  DriverInterface::setTiming({0ms, 0ms, 1ms, 3});
  hid.unplug(mouse);
  hid.plug(mouse);
  ASSERT_TRUE(runUntil([&] {
    std::lock_guard lock(logMutex);
    return std::any_of(logged.begin(), logged.end(), [](const std::string& line) {
      return line.find("gave up connecting") != std::string::npos;
    });
  }));
  log::setLogThreshold(previousThreshold);
  log::setLogSink(previousSink);
  std::lock_guard lock(logMutex);
  const auto line = std::find_if(logged.begin(), logged.end(), [](const std::string& l) {
    return l.find("gave up") != std::string::npos;
  });
  EXPECT_NE(line->find("after 3 attempts"), std::string::npos) << *line;
  EXPECT_NE(line->find("no driver service of class com_Zenvor_driver_usb_Skarn in"),
            std::string::npos)
      << *line;
}

TEST_F(DriverInterfaceTest, ARefusedUserStaysDisconnected) {
  FakeDriverService service;
  service.setRefuseClients(true);
  mouse = hid.plug(FakeHidDevice::make(kVendor, kProduct));
  auto driver = makeInterface();
  ASSERT_TRUE(runUntil([&] {
    const DriverSet* set = findRegisteredDeviceByVidPid(kVendor, kProduct);
    return set && set->device;
  }));
  for (int i = 0; i < 20; ++i) RunLoop::main().dispatchPending(5ms);
  EXPECT_FALSE(driver->connected());
  EXPECT_EQ(delegate.take(), Lines{});
}

TEST_F(DriverInterfaceTest, TheServiceOfTheMatchedNodeIsPreferred) {
  FakeDriverService other(kClass, "hidraw0");
  FakeDriverService simulated(kClass, "simulated-1704");
  FakeDriverService foreign("com_Zenvor_driver_bt_Skarn", "aaa");
  auto driver = connectMouse(simulated);
  EXPECT_EQ(driver->servicePath(), simulated.path());
  EXPECT_EQ(other.connectedClients(), 0u);
  EXPECT_EQ(foreign.connectedClients(), 0u);
}

TEST_F(DriverInterfaceTest, DeviceOperationsReachTheDaemon) {
  FakeDriverService service;
  auto driver = connectMouse(service);
  service.clearCalls();
  service.setControlAnswer(0xABCD1234);
  service.setFeatureByte(0x7F);
  EXPECT_EQ(driver->readFromDeviceMemory(0xBA), 0x1234);
  userclient::ZVControlRequest request{0x40, 0x91, 0x505F, 0x5F, 2, 0};
  EXPECT_TRUE(driver->sendControlRequest(request));
  EXPECT_EQ(request.data, 0xABCD1234u);
  EXPECT_EQ(driver->getFeatureByte(0xFF), 0x7F);
  userclient::ZVDeviceInfo info;
  EXPECT_TRUE(driver->deviceInfo(info));
  EXPECT_EQ(info.productID, 0x1704u);
  driver->setExclusive(true);
  driver->setPrecisionAim(40, 0x90003);
  driver->setXCPI(800, 800, 1);
  driver->setMouseAxisSensitivity(-3, kVerticalAxis);
  driver->setButtonStates(0x5);
  EXPECT_EQ(service.calls(),
            (Lines{"sControlRequest [48 bytes]", "sControlRequest [48 bytes]",
                   "sGetFeatureByte 0xff", "sGetDeviceInfo", "sSeizeOverrides 1",
                   "sSetPrecAim 0x28 0x90003", "sSetCPI 0x320 0x320 1",
                   "sSetMouseAxisSensitivity 0xfffffffffffffffd 2", "sSetButtonStates 5"}));

  // Without a connection nothing is sent and readings stay 0.
  hid.unplug(mouse);
  ASSERT_TRUE(runUntil([&] { return !driver->connected(); }));
  service.clearCalls();
  EXPECT_EQ(driver->readFromDeviceMemory(0xBA), 0);
  driver->setButtonStates(1);
  EXPECT_TRUE(service.calls().empty());
}

TEST_F(DriverInterfaceTest, ButtonStatesFromManyThreadsAllArrive) {
  FakeDriverService service;
  auto driver = connectMouse(service);
  service.clearCalls();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i)
        driver->setButtonStates(std::uint64_t(t) << 8 | std::uint64_t(i));
    });
  }
  // The main loop keeps delivering meanwhile, as in the agent.
  std::atomic<bool> done{false};
  std::thread joiner([&] {
    for (auto& thread : threads) thread.join();
    done = true;
    RunLoop::main().post([] {});  // wakes the loop to see it
  });
  service.sendElementEvent(0x90004, 1);
  runUntil([&] { return done.load() && delegate.count() > 0; });
  joiner.join();
  EXPECT_EQ(service.calls().size(), 100u);
  EXPECT_EQ(delegate.take(), Lines{"event 0x90004 1"});
}

TEST_F(DriverInterfaceTest, FeatureAndOutputReports) {
  FakeDriverService service;
  auto driver = connectMouse(service);
  std::vector<std::uint8_t> long_(100);
  for (std::size_t i = 0; i < long_.size(); ++i) long_[i] = static_cast<std::uint8_t>(i);
  long_[0] = 7;
  mouse->setFeatureReport(7, long_);
  mouse->setFeatureReport(8, {8, 1});

  std::vector<std::uint8_t> buffer(100, 0);
  buffer[0] = 7;
  std::size_t length = 100;
  EXPECT_TRUE(driver->getFeature(buffer, length));
  EXPECT_EQ(length, 64u) << "limited to 64";
  EXPECT_EQ(buffer[63], 63);
  EXPECT_EQ(buffer[64], 0);

  buffer[0] = 8;
  length = 10;
  EXPECT_TRUE(driver->getFeature(buffer, length));
  EXPECT_EQ(length, 2u) << "lowered to what the device answered";

  buffer[0] = 9;
  length = 10;
  EXPECT_FALSE(driver->getFeature(buffer, length));
  EXPECT_EQ(length, 0u) << "a failed read hands back nothing";

  const std::uint8_t settings[] = {0x01, 0x01};
  EXPECT_TRUE(driver->setFeature(settings));
  const std::uint8_t output[] = {0x00, 0x10, 0x20};
  EXPECT_TRUE(driver->setReport(output));
  RunLoop::main().dispatchPending();
  const auto sent = mouse->sentReports();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1], (FakeHidDevice::SentReport{platform::HidReportType::Feature, 1, {1, 1}}));
  EXPECT_EQ(sent[2],
            (FakeHidDevice::SentReport{platform::HidReportType::Output, 0, {0, 0x10, 0x20}}));

  hid.unplug(mouse);
  ASSERT_TRUE(runUntil([&] { return !driver->connected(); }));
  EXPECT_FALSE(driver->setReport(output)) << "only while connected";
}

}  // namespace
}  // namespace zv::device
