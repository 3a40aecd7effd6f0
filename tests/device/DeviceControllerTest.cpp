// The device controller as the engine sees it: identity from a device description,
// identifiers from "drivers" entries, the bundle's defaults, the executive flag, the
// driver interface and the profile store; and the recording driver.
#include <gtest/gtest.h>

#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "device/RecordingDriver.h"
#include "json/CJSONDeserializer.h"
#include "testing/EngineHarness.h"
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
