// The device controller as the engine sees it: identity from a device description,
// identifiers from "drivers" entries, the bundle's defaults, the executive flag, the
// driver interface and the profile store; the recording driver; and the controller of a
// connected demo mouse (fake HID system, driver service on a real socket).
#include <gtest/gtest.h>

#include "DeviceScriptOperations.h"
#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "device/DriverSets.h"
#include "device/ProfileStoreFactory.h"
#include "device/RecordingDriver.h"
#include "device/ZVDeviceManager.h"
#include "engine/EngineProfileStoreFactory.h"
#include "engine/ZVProfile.h"
#include "json/CJSONDeserializer.h"
#include "platform/RunLoop.h"
#include "testing/EngineHarness.h"
#include "testing/FakeDriverService.h"
#include "testing/FakeHidManager.h"
#include "testing/TemporaryTree.h"

namespace zv::device {
namespace {

json::DictionaryPtr parse(std::string_view text) {
  json::DictionaryPtr dictionary = json::CJSONDeserializer().deserializeAsDictionary(text);
  EXPECT_TRUE(dictionary) << text;
  return dictionary;
}

TEST(DeviceController, TheDemoMouse) {
  auto device = testing::makeDemoDevice();
  ASSERT_TRUE(device);
  EXPECT_EQ(device->alias(), "DemoMouse");
  EXPECT_EQ(device->balias(), "DemoMouse") << "taken over from the bundle's root";
  EXPECT_EQ(device->brand(), "Zenvor");
  EXPECT_EQ(device->name(), "Zenvor Demo Mouse");
  EXPECT_EQ(device->title(), "Demo Mouse");
  EXPECT_EQ(device->softwareVersion(), "1.0");
  EXPECT_EQ(device->udid(), "DemoMouse-1");
  EXPECT_EQ(device->vendorId(), 0x5A56);
  EXPECT_EQ(device->productId(), 0x1704);
  EXPECT_EQ(device->typeId(), 1);
  EXPECT_EQ(device->bundle().bundlePath(), testing::demoBundlePath());
  EXPECT_EQ(device->dictionary()->find("SeedProfile")->asString(), "Seed.pr0");
  EXPECT_EQ(device->dictionary()->find("DriverInterface")->asString(),
            "com_Zenvor_driver_usb_Skarn");
}

TEST(DeviceController, DescriptionsIdentifiersAndDefaults) {
  // "drivers" entries fill the identifiers the description lacks; the first one wins.
  DeviceController driven(parse(R"({"Alias": "Pad", "TypeID": 70000, "VendorID": 0,
      "drivers": [{"VendorID": 4660, "ProductID": 22136}, {"VendorID": 1, "ProductID": 2}]})"),
                          "/nowhere.bundle");
  EXPECT_EQ(driven.vendorId(), 4660);
  EXPECT_EQ(driven.productId(), 22136);
  EXPECT_EQ(driven.typeId(), 70000 & 0xFFFF);
  EXPECT_EQ(driven.udid(), "Pad-" + std::to_string(70000 & 0xFFFF));

  // Missing or damaged values read as nothing; alias texts are read at each call.
  auto description = parse(R"({"VendorID": "12", "Name": 5, "drivers": 3})");
  DeviceController bare(description, "/nowhere.bundle");
  EXPECT_EQ(bare.vendorId(), 0);
  EXPECT_EQ(bare.name(), "");
  EXPECT_EQ(bare.udid(), "-0");
  description->set("Balias", json::Value("Later"));
  EXPECT_EQ(bare.balias(), "Later");
  DeviceController empty(nullptr, "/nowhere.bundle");
  EXPECT_EQ(empty.alias(), "");

  // A description with its own "Brand" keeps it; others take the root's, in order.
  testing::TemporaryTree tree;
  tree.write("Two.bundle/Contents/Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>Brand</key><string>Root</string>
  <key>Balias</key><string>RootAlias</string>
  <key>Devices</key><dict>
    <key>a</key><dict><key>Alias</key><string>A</string><key>Brand</key><string>Own</string></dict>
    <key>b</key><string>not a description</string>
    <key>c</key><dict><key>Alias</key><string>C</string></dict>
  </dict>
</dict></plist>)");
  const auto descriptions = deviceDescriptions(support::Bundle(tree.path("Two.bundle")));
  ASSERT_EQ(descriptions.size(), 2u);
  EXPECT_EQ(descriptions[0]->find("Brand")->asString(), "Own");
  EXPECT_EQ(descriptions[0]->find("Balias")->asString(), "RootAlias");
  EXPECT_EQ(descriptions[1]->find("Brand")->asString(), "Root");
  EXPECT_FALSE(descriptions[1]->contains("ProfilePath"));
  EXPECT_TRUE(deviceDescriptions(support::Bundle(tree.path("Missing.bundle"))).empty());
}

TEST(DeviceController, DriverStoreAndExecutiveFlag) {
  auto device = testing::makeDemoDevice();
  EXPECT_FALSE(device->driverInterface());
  EXPECT_TRUE(device->elementMap().empty());
  auto driver = std::make_shared<RecordingDriver>();
  driver->setElementMap({{0x90001, 1}});
  device->setDriverInterface(driver);
  EXPECT_EQ(device->elementMap(), (ElementMap{{0x90001, 1}}));

  EXPECT_FALSE(device->profileStore());
  auto store = std::make_shared<SimpleProfileStore>("/seed/Seed.pr0", "/profiles");
  device->setProfileStore(store);
  EXPECT_EQ(device->profileStore()->pathForProfile("Work"), "/profiles/Work.pr0");
  EXPECT_EQ(device->profileStore()->seedPathForProfilePath("/profiles/Work.pr0"), "/seed/Seed.pr0");

  const bool was = DeviceController::isExecutive();
  DeviceController::setIsExecutive(true);
  EXPECT_TRUE(DeviceController::isExecutive());
  DeviceController::setIsExecutive(false);
  EXPECT_FALSE(DeviceController::isExecutive());
  DeviceController::setIsExecutive(was);
}

TEST(RecordingDriver, KeepsCallsAndWhatTheyLeaveInPlace) {
  RecordingDriver driver;
  std::vector<std::string> heard;
  driver.setListener([&](const DriverCall& call) { heard.push_back(describe(call)); });
  driver.overrideElement(0x90004, true);
  driver.overrideElement(0x90005, true);
  driver.setMouseAxis(0x10030, kHorizontalAxis);
  driver.overrideElement(0x90004, false);
  driver.setButtonStates(0x1F);
  EXPECT_EQ(heard,
            (std::vector<std::string>{"overrideElement 0x90004 on", "overrideElement 0x90005 on",
                                      "setMouseAxis 0x10030 1", "overrideElement 0x90004 off",
                                      "setButtonStates 0x1F"}));
  EXPECT_EQ(driver.describedCalls(), heard);
  EXPECT_EQ(driver.overriddenElements(), (std::vector<std::uint32_t>{0x90005}));
  EXPECT_EQ(driver.mouseAxis(kHorizontalAxis), 0x10030u);
  EXPECT_EQ(driver.mouseAxis(kVerticalAxis), 0u);
  driver.clear();
  EXPECT_TRUE(driver.calls().empty());
}

}  // namespace
}  // namespace zv::device

// --- The controller of a connected demo mouse -------------------------------------------------

namespace zv::device {
namespace {

using namespace std::chrono_literals;
using platform::RunLoop;
using Lines = std::vector<std::string>;

// Records what the controller tells its delegate.
class RecordingControllerDelegate : public DeviceControllerDelegate {
 public:
  void deviceConnected(DeviceController&, bool connected) override {
    lines.push_back(connected ? "connected YES" : "connected NO");
  }
  void onDeviceEvent(const std::string& event) override { lines.push_back("event " + event); }
  void onElementEvent(std::uint32_t element, std::int32_t value, std::int32_t) override {
    char text[48];
    std::snprintf(text, sizeof text, "element 0x%x %d", element, value);
    lines.push_back(text);
  }
  Lines take() { return std::exchange(lines, {}); }
  Lines lines;
};

class ConnectedControllerTest : public ::testing::Test {
 protected:
  ConnectedControllerTest() {
    resetDriverSets();
    DriverInterface::setTiming({0ms, 0ms, 5ms, 3});
    engine::ZVProfile::setSharedPrototype(testing::bundledPrototype());
    previousFactory_ =
        setProfileStoreFactory(std::make_shared<engine::EngineProfileStoreFactory>());
    std::filesystem::create_directories(tree.path("share/MainstreamDevices"));
    std::filesystem::create_symlink(testing::demoBundlePath(),
                                    tree.path("share/MainstreamDevices/DemoMouse.bundle"));
  }
  ~ConnectedControllerTest() override {
    resetDriverSets();
    DriverInterface::setTiming({});
    engine::ZVProfile::setSharedPrototype(nullptr);
    setProfileStoreFactory(previousFactory_);
    ZVDeviceManager::sharedDeviceManager().reset();
  }
  // The demo mouse's controller, plugged in and connected.
  std::shared_ptr<DeviceController> connect() {
    auto controllers = ZVDeviceManager::sharedDeviceManager().scanBundlesForDevicesMatchingCriteria(
        json::CJSONDeserializer().deserializeAsDictionary(R"({"Alias": "DemoMouse"})"));
    EXPECT_EQ(controllers.size(), 1u);
    if (controllers.empty()) return nullptr;
    auto controller = controllers.front();
    controller->setDelegate(delegate);
    mouse = hid.plug(testing::FakeHidDevice::make(0x5A56, 0x1704));
    EXPECT_TRUE(runUntil([&] { return delegate->lines.size() >= 2; }));
    return controller;
  }
  static bool runUntil(const std::function<bool()>& condition) {
    return RunLoop::main().runUntil(condition, 10s);
  }

  testing::TemporaryTree tree;
  testing::FakeHidSystem hid;
  testing::FakeDriverService service;
  std::shared_ptr<RecordingControllerDelegate> delegate =
      std::make_shared<RecordingControllerDelegate>();
  std::shared_ptr<testing::FakeHidDevice> mouse;

 private:
  std::shared_ptr<ProfileStoreFactory> previousFactory_;
};

TEST_F(ConnectedControllerTest, ConnectDisconnectAndALateDelegate) {
  auto controller = connect();
  ASSERT_TRUE(controller);
  EXPECT_EQ(delegate->take(), (Lines{"connected YES", "event connect"}))
      << "deviceConnected at once, the device event from the main loop";
  EXPECT_TRUE(controller->connected());
  EXPECT_EQ(controller->driverInterface(), controller->driverInterfaces().front());
  EXPECT_TRUE(controller->profileStore()) << "made at connect";
  EXPECT_TRUE(service.waitForCall("sSetHatControl 0x10039")) << "the seed profile's hat";
  RunLoop::main().dispatchPending();
  EXPECT_TRUE(controller->batteryTimerRunning());

  // A delegate set while connected hears "connect" once, and no deviceConnected.
  auto late = std::make_shared<RecordingControllerDelegate>();
  controller->setDelegate(late);
  RunLoop::main().dispatchPending();
  RunLoop::main().dispatchPending();
  EXPECT_EQ(late->take(), Lines{"event connect"});

  // A second connect changes nothing; a foreign interface's disconnect is ignored.
  controller->onConnect(*controller->driver());
  auto foreign = DriverInterface::create(0x5A56, 0x1704, 1, nullptr, "com_Zenvor_other");
  controller->onDisconnect(*foreign);
  RunLoop::main().dispatchPending();
  EXPECT_EQ(late->take(), Lines{});
  EXPECT_TRUE(controller->connected());

  // Element events pass through unchanged.
  service.sendElementEvent(0x90004, 1);
  ASSERT_TRUE(runUntil([&] { return !late->lines.empty(); }));
  EXPECT_EQ(late->take(), Lines{"element 0x90004 1"});

  hid.unplug(mouse);
  ASSERT_TRUE(runUntil([&] { return late->lines.size() >= 2; }));
  EXPECT_EQ(late->take(), (Lines{"connected NO", "event disconnect"}));
  EXPECT_FALSE(controller->connected());
  EXPECT_TRUE(controller->batteryTimerRunning()) << "the timer keeps running";
}

TEST_F(ConnectedControllerTest, BatterySettingsAndScriptOperations) {
  auto controller = connect();
  ASSERT_TRUE(controller);
  service.setControlAnswer(0x0A63);
  controller->monitorThreadFunc();
  EXPECT_EQ(controller->batteryLevel(), 0x63);
  EXPECT_EQ(controller->readFromDeviceMemory(0x10), 0x0A63);
  controller->enterFirmwareMode();
  EXPECT_EQ(service.calls().back(), "sControlRequest [48 bytes]");

  EXPECT_EQ(controller->getSetting("DPI"), 0);
  controller->setSetting("DPI", 1600);
  EXPECT_EQ(controller->getSetting("DPI"), 1600);
  EXPECT_EQ(*editor::callDeviceScriptOperation(*controller, "GetSetting",
                                               std::vector<json::Value>{json::Value("DPI")}),
            json::Value(1600));
  ASSERT_TRUE(editor::callDeviceScriptOperation(
      *controller, "SetSetting", std::vector<json::Value>{json::Value("Mode"), json::Value(3)}));
  EXPECT_EQ(controller->getSetting("Mode"), 3);

  EXPECT_EQ(*editor::callDeviceScriptOperation(*controller, "GetPID", {}), json::Value(5892));
  EXPECT_EQ(*editor::callDeviceScriptOperation(*controller, "GetBalias", {}),
            json::Value("DemoMouse"));
  EXPECT_EQ(*editor::callDeviceScriptOperation(*controller, "connected", {}),
            json::Value::boolean(true));
  EXPECT_EQ(editor::callDeviceScriptOperation(*controller, "GetBatteryLifeYears", {}),
            std::nullopt);
  EXPECT_EQ(editor::callDeviceScriptOperation(*controller, "readBatteryStatus", {}), std::nullopt)
      << "operations outside the table are hidden";
  EXPECT_EQ(editor::callDeviceScriptOperation(*controller, "GetSetting", {}), std::nullopt);
  EXPECT_EQ(editor::deviceScriptOperations().size(), 17u);

  const auto json = controller->controlDescriptionJSON();
  ASSERT_TRUE(json);
  EXPECT_EQ(json->rfind("{", 0), 0u);
  EXPECT_NE(json->find("DemoMouse"), std::string::npos);
  EXPECT_EQ(controller->buttons().size(), 15u);

  controller->writeSettings();
  ASSERT_TRUE(runUntil([&] { return mouse->sentReports().size() >= 2; }));
  EXPECT_EQ(mouse->sentReports().back().bytes, (std::vector<std::uint8_t>{1, 1}));
}

TEST_F(ConnectedControllerTest, SettingsWithoutStoreAndTextValues) {
  DeviceController offline(testing::makeDemoDevice()->dictionary(), testing::demoBundlePath());
  EXPECT_EQ(offline.getSetting("DPI"), 0);
  EXPECT_EQ(offline.controlDescriptionJSON(), std::nullopt);
  offline.setSetting("DPI", 5);  // nowhere to keep it
  EXPECT_EQ(offline.getSetting("DPI"), 0);
  EXPECT_EQ(offline.readFromDeviceMemory(0xBA), 0) << "no driver: readings stay 0";

  auto controller = connect();
  ASSERT_TRUE(controller);
  const auto settings = profileStoreFactory()->settings(*controller->profileStore());
  ASSERT_TRUE(settings);
  settings->set("Text", json::Value("12"));
  EXPECT_EQ(controller->getSetting("Text"), 0) << "text that looks like a number is not one";
}

TEST_F(ConnectedControllerTest, DriversEntriesOrderAndRemapping) {
  auto description = json::CJSONDeserializer().deserializeAsDictionary(R"({
      "Alias": "Pad", "ProductID": 0, "ElementRemapping": {"3": 5},
      "drivers": [{"VendorID": 4660, "ProductID": 22136, "DriverInterface": "first_class"},
                  {"VendorID": 1, "ProductID": 2, "DriverInterface": "second_class"}]})");
  auto controller = std::make_shared<DeviceController>(description, "/nowhere.bundle");
  controller->initialize();
  EXPECT_EQ(controller->vendorId(), 4660);
  EXPECT_EQ(controller->productId(), 22136);
  const auto interfaces = controller->driverInterfaces();
  ASSERT_EQ(interfaces.size(), 2u) << "no interface of its own: ProductID is 0";
  EXPECT_EQ(interfaces[0]->driverInterfaceName(), "first_class");
  EXPECT_EQ(interfaces[1]->driverInterfaceName(), "second_class");
  EXPECT_EQ(interfaces[1]->vendorId(), 1);
  EXPECT_EQ(interfaces[1]->typeId(), 0u);
  EXPECT_EQ(controller->driverInterface(), interfaces[1]) << "the last entry wins";
  EXPECT_EQ(interfaces[1]->toDevice(3), 5u);

  DeviceController none(json::CJSONDeserializer().deserializeAsDictionary(R"({"Alias": "X"})"),
                        "/nowhere.bundle");
  none.initialize();
  EXPECT_TRUE(none.driverInterfaces().empty());
  EXPECT_FALSE(none.driverInterface());
}

}  // namespace
}  // namespace zv::device
