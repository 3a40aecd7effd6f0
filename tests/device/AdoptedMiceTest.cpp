// Mice without a bundle of their own: what a report descriptor says a mouse has, the
// adoption record in its udev rule, the description and profiles made from it, and the
// mice present as sysfs shows them.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/AdoptedDescriptions.h"
#include "device/AdoptedMice.h"
#include "device/DeviceDescriptions.h"
#include "device/MouseCapabilities.h"
#include "device/PresentMice.h"
#include "platform/Paths.h"
#include "profile/ProfileFile.h"
#include "replay/DescriptorFile.h"
#include "testing/FakeSysfs.h"
#include "testing/TemporaryTree.h"

namespace zv::device {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A mouse of the suite's descriptor set (data/mice).
Bytes descriptorOf(const std::string& name) {
  std::string error;
  auto bytes =
      driver::replay::readDescriptorFile(ZV_SOURCE_DIR "/data/mice/" + name + ".hid", &error);
  EXPECT_TRUE(bytes) << error;
  return bytes.value_or(Bytes{});
}

// clang-format off
const Bytes kKeyboardFirst = {  // a keyboard collection, then the mouse (8 buttons), vendor
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xC0, 0x05, 0x01, 0x09,
    0x02, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29,
    0x08, 0x95, 0x08, 0x75, 0x01, 0x81, 0x02, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09,
    0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0, 0x06,
    0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x05, 0x09, 0x01, 0x75, 0x08, 0x95, 0x10,
    0x81, 0x02, 0xC0};
const Bytes kAbsurdRange = {  // buttons 1 to 65535 in a field of 255
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x2A, 0xFF, 0xFF, 0x95,
    0xFF, 0x75, 0x01, 0x81, 0x02, 0xC0};
// clang-format on

struct CapabilityCase {
  const char* name;
  std::size_t buttons;
  bool wheel, pan;
};
void PrintTo(const CapabilityCase& c, std::ostream* out) {
  *out << c.name;
}

class Capabilities : public ::testing::TestWithParam<CapabilityCase> {};

// Other collections of the same descriptor (a keyboard, consumer keys whose usage range
// covers AC Pan too, vendor reports) are not the mouse.
TEST_P(Capabilities, OfTheMouseCollectionsOnly) {
  const CapabilityCase& c = GetParam();
  const Bytes descriptor =
      std::string(c.name) == "keyboard-first" ? kKeyboardFirst : descriptorOf(c.name);
  const auto read = mouseCapabilities(descriptor);
  ASSERT_TRUE(read) << read.failure().message;
  EXPECT_EQ(read->buttons.size(), c.buttons);
  EXPECT_EQ(read->buttons.front(), 1u);
  EXPECT_EQ(read->wheel, c.wheel);
  EXPECT_EQ(read->pan, c.pan);
  EXPECT_TRUE(read->x && read->y && read->relativeX && read->relativeY);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, Capabilities,
                         ::testing::Values(CapabilityCase{"boot-mouse", 3, false, false},
                                           CapabilityCase{"wheel-mouse", 3, true, false},
                                           CapabilityCase{"generic-mouse", 5, true, true},
                                           CapabilityCase{"sixteen-button", 16, true, true},
                                           CapabilityCase{"split-receiver", 5, true, true},
                                           CapabilityCase{"hires-wheel", 5, true, true},
                                           CapabilityCase{"gaming-mouse", 16, true, true},
                                           CapabilityCase{"keyboard-first", 8, true, false}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::erase(name, '-');
                           return name;
                         });

TEST(Capabilities, BadDescriptorsFailOrStayBounded) {
  const Bytes boot = descriptorOf("boot-mouse");
  const Bytes cut(boot.begin(), boot.begin() + 15);  // in the middle of 29 03
  EXPECT_TRUE(mouseCapabilities(cut).failure().is(kMouseDescriptorDomain, kDescriptorCutShort));
  const Bytes joystick = {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x09, 0x30, 0x81, 0x02, 0xC0};
  EXPECT_TRUE(mouseCapabilities(joystick).failure().is(kMouseDescriptorDomain, kNoMouseCollection));
  EXPECT_FALSE(mouseCapabilities({}));
  const auto absurd = mouseCapabilities(kAbsurdRange);
  ASSERT_TRUE(absurd);
  EXPECT_EQ(absurd->buttons.size(), kMaxMouseButtons);
}

TEST(AdoptionRule, RecordsTheMouseAndReadsBack) {
  const AdoptedMouse mouse{0x046D, 0xC52B, 5, "Receiver\nwith a line break",
                           descriptorOf("split-receiver")};
  const std::string rule = adoptionRule(mouse);
  EXPECT_NE(rule.find("KERNELS==\"000[35]:046D:C52B.*\""), std::string::npos) << rule;
  EXPECT_NE(rule.find("ENV{SYSTEMD_WANTS}+=\"zenvor-driver@%k.service\""), std::string::npos);
  const auto back = parseAdoptionRule(rule);
  ASSERT_TRUE(back) << back.failure().message;
  AdoptedMouse expected = mouse;
  expected.name = "Receiver with a line break";  // one comment line
  EXPECT_EQ(*back, expected);

  for (const char* damaged : {"", "# kinetra-mouse: 046d\n", "# kinetra-mouse: 046d:c52b\n",
                              "# kinetra-mouse: 046d:c52b\n# kinetra-bus: 3\n"
                              "# kinetra-descriptor: 0501x9\n"}) {
    EXPECT_TRUE(parseAdoptionRule(damaged).failure().is(kAdoptionRuleDomain, kNotAnAdoptionRule))
        << damaged;
  }
  EXPECT_EQ(parseMouseIdentifier("046D:c52b"),
            (std::pair<std::uint16_t, std::uint16_t>{0x46D, 0xC52B}));
  EXPECT_FALSE(parseMouseIdentifier("046d-c52b"));
  EXPECT_FALSE(parseMouseIdentifier("12345:1"));
  EXPECT_TRUE(isAutomaticProduct(0x5A56, 0x1704));
  EXPECT_FALSE(isAutomaticProduct(0x5A56, 0x0001));
}

TEST(AdoptedMice, FromTheRulesFolderSkippingWhatIsNotARecord) {
  testing::TemporaryTree tree;
  const auto folder = platform::udevRulesFolder();
  const AdoptedMouse second{0x1234, 0x0001, 3, "Second", descriptorOf("boot-mouse")};
  const AdoptedMouse first{0x046D, 0xC52B, 3, "First", descriptorOf("sixteen-button")};
  tree.write("udev/" + adoptionRulePath(0x1234, 1, "").string(), adoptionRule(second));
  tree.write("udev/" + adoptionRulePath(0x046D, 0xC52B, "").string(), adoptionRule(first));
  tree.write("udev/71-zenvor-adopted-0000-0001.rules", adoptionRule(first));  // wrong name
  tree.write("udev/71-zenvor-adopted-0000-0002.rules", "KERNEL==\"x\"\n");
  tree.write("udev/70-zenvor-driver.rules", "not ours to read\n");
  std::vector<std::string> problems;
  EXPECT_EQ(adoptedMice(folder, &problems), (std::vector<AdoptedMouse>{first, second}));
  EXPECT_EQ(problems.size(), 2u);
}

// An adopted mouse is a device of its own model: its description and profiles come from
// its descriptor, X and Y are its motion, and every button is left as it was.
TEST(AdoptedMice, DescribedFromTheirDescriptors) {
  testing::TemporaryTree tree;
  tree.write("udev/" + adoptionRulePath(0x046D, 0xC52B, "").string(),
             adoptionRule({0x046D, 0xC52B, 5, "Split Receiver", descriptorOf("split-receiver")}));
  tree.write("udev/" + adoptionRulePath(0x1234, 0x0001, "").string(),
             adoptionRule({0x1234, 0x0001, 3, "", {0x00}}));  // a descriptor nobody reads
  json::Dictionary root;
  root.set("Brand", json::Value("Zenvor"));
  EXPECT_TRUE(deviceDescriptions(root).empty()) << "only a bundle that asks for them";
  root.set("AdoptedMice", json::Value::boolean(true));
  const auto descriptions = deviceDescriptions(root);
  ASSERT_EQ(descriptions.size(), 2u);

  const json::Dictionary& split = *descriptions[0];
  EXPECT_EQ(split.find("Alias")->asString(), "Mouse-046D-C52B");
  EXPECT_EQ(split.find("ProfilePath")->asString(), "Mouse-046D-C52B");
  EXPECT_EQ(split.find("Name")->asString(), "Split Receiver");
  EXPECT_EQ(split.find("DriverInterface")->asString(), "com_Zenvor_driver_bt_Skarn");
  EXPECT_EQ(split.find("Brand")->asString(), "Zenvor");
  EXPECT_EQ(split.find("TypeID")->asNumber(), kAdoptedTypeID);
  const auto seed = profile::readProfileText(split.find("SeedProfile")->asString());
  ASSERT_TRUE(seed);
  EXPECT_EQ(*seed,
            "[profile=Seed [controller=Mouse-046D-C52B [controls [button=0x90001 name='Left "
            "button' ] [button=0x90002 name='Right button' ] [button=0x90003 name='Wheel "
            "button' ] [button=0x90004 name=Back ] [button=0x90005 name=Forward ] [wheel=0x10038 "
            "name=Wheel ] [wheel=0xc0238 name=Pan ] [motion=0x10030 name=X ] [motion=0x10031 "
            "name=Y ] ] [shift={046DC52B-0000-4000-8000-000000000001} name=Default ] ] ]");
  const auto fallback = descriptions[1];
  EXPECT_EQ(fallback->find("Name")->asString(), "Mouse 1234:0001");
  EXPECT_EQ(fallback->find("DriverInterface")->asString(), "com_Zenvor_driver_usb_Skarn");
  const auto outline = profile::readProfileText(fallback->find("DefaultProfile")->asString());
  ASSERT_TRUE(outline);
  EXPECT_NE(outline->find("[profile=Default [controller=Mouse-1234-0001 [controls [button=0x90001"),
            std::string::npos);
  EXPECT_NE(outline->find("[motion=0x10031 name=Y ]"), std::string::npos) << *outline;
}

TEST(PresentMice, AreTheMouseNodesLessOurDaemonsOwn) {
  testing::TemporaryTree tree;
  const auto sys = platform::sysfsRoot();
  testing::addFakeHidrawNode(sys, "hidraw10", "0003:0000046D:0000C52B", "Split Receiver",
                             descriptorOf("split-receiver"));
  testing::addFakeHidrawNode(sys, "hidraw2", "0003:00005A56:00001704", "Zenvor Demo Mouse",
                             descriptorOf("sixteen-button"));
  testing::addFakeHidrawNode(sys, "hidraw3", "0003:00001234:00000001", "Keyboard",
                             {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0});
  testing::addFakeHidrawNode(sys, "hidraw4", "0005:0000ABCD:00000002", "BLE Mouse",
                             descriptorOf("boot-mouse"), true, "a4:c1:38:0e:11:22");
  testing::addFakeHidrawNode(sys, "hidraw5", "0005:0000ABCD:00000002", "BLE Mouse",
                             descriptorOf("boot-mouse"), true, "zenvor-driver/a4:c1:38:0e:11:22");
  tree.write("services/com_Zenvor_driver_usb_Skarn@hidraw2", "");  // a file, not a socket

  const auto mice = presentMice(sys, {{0x046D, 0xC52B, 3, "", descriptorOf("split-receiver")}});
  ASSERT_EQ(mice.size(), 3u);
  EXPECT_EQ(mice[0].node.name, "hidraw2");
  EXPECT_TRUE(mice[0].automatic);
  EXPECT_FALSE(mice[0].driverRunning);
  EXPECT_EQ(mice[1].node.name, "hidraw4");
  EXPECT_TRUE(mice[1].node.underUhid);
  EXPECT_FALSE(mice[1].served());
  EXPECT_EQ(mice[1].capabilities.summary(), "3 buttons");
  EXPECT_EQ(notAdoptedNotice(mice[1]),
            "found mouse abcd:0002 (BLE Mouse), not adopted: kinetra adopt abcd:0002");
  EXPECT_EQ(mice[2].node.name, "hidraw10");
  EXPECT_TRUE(mice[2].adopted);
  EXPECT_EQ(mice[2].capabilities.summary(), "5 buttons, wheel, pan");
}

}  // namespace
}  // namespace zv::device
