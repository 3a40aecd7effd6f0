// The bundled prototype and the demo device bundle: the files the demo and the later
// integration tests run.
#include <gtest/gtest.h>

#include <set>

#include "engine/ZVActionBlock.h"
#include "engine/ZVActionCommand.h"
#include "engine/ZVActionCommandTrigger.h"
#include "engine/ZVBand.h"
#include "engine/ZVControl.h"
#include "engine/ZVProfile.h"
#include "engine/ZVShiftState.h"
#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"
#include "platform/ReadFile.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "support/PropertyList.h"

namespace zv::profile {
namespace {

const std::filesystem::path kData = std::filesystem::path(ZV_SOURCE_DIR) / "data";
const std::filesystem::path kBundle = kData / "Devices" / "DemoMouse.bundle";

json::DictionaryPtr bundledPrototype() {
  std::string error;
  auto prototype = readPrototypeFile(kData / "tevnodes.prototype", &error);
  EXPECT_TRUE(prototype) << error;
  return prototype;
}

ObjectPtr load(const std::string& name) {
  std::string error;
  auto prototype = bundledPrototype();
  auto json =
      loadProfileJSON(kBundle / "Contents" / "Resources" / name, json::Value(prototype), &error);
  EXPECT_TRUE(json) << error;
  if (!json) return nullptr;
  ObjectPtr root = ZVPrototypedObject::makeFromPrototype(prototype);
  EXPECT_TRUE(root->setJSON(json->asDictionary()));
  return root;
}

std::uint32_t element(const ObjectPtr& node) {
  return toUnsigned32(node->tevNodeValue().asNumber());
}

TEST(DemoProfiles, PrototypeIsUsableInAScriptText) {
  const auto read = platform::readFile(kData / "tevnodes.prototype");
  ASSERT_TRUE(read);
  const std::string& text = *read;
  EXPECT_EQ(text.find('\''), std::string::npos);
  EXPECT_EQ(text.find('\\'), std::string::npos);
  EXPECT_TRUE(bundledPrototype());
}

TEST(DemoProfiles, EveryDemoProfileRoundTripsExactly) {
  auto prototype = json::Value(bundledPrototype());
  for (const char* name : {"Seed.pr0", "Default.pr0"}) {
    const auto read = platform::readFile(kBundle / "Contents" / "Resources" / name);
    ASSERT_TRUE(read);
    const std::string& bytes = *read;
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << name;
    auto text = decodeProfileText(bytes);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->substr(0, 2), " [") << name;
    EXPECT_NE(text->find("\r\n"), std::string::npos) << name;
    // Node text → JSON text → object tree → JSON text → node text, as the editor goes.
    auto json = tevnodes2json(*text, prototype);
    ASSERT_TRUE(json) << name;
    ObjectPtr root = ZVPrototypedObject::makeFromPrototype(prototype.asDictionary());
    ASSERT_TRUE(
        root->setJSON(json::CJSONSerializer::serializer().serializeObject(*json).valueOr("")));
    auto again = json::CJSONDeserializer().deserialize(root->JSON());
    ASSERT_TRUE(again);
    auto written = json2tevnodes(*again, prototype);
    ASSERT_TRUE(written) << name;
    EXPECT_EQ(*written, *text) << name;
    EXPECT_EQ(encodeProfileText(*written), bytes) << name;
  }
}

TEST(DemoProfiles, DefaultProfileBuildsTheEngineObjects) {
  ObjectPtr profile = load("Default.pr0");
  ASSERT_TRUE(profile);
  EXPECT_TRUE(std::dynamic_pointer_cast<engine::ZVProfile>(profile));
  EXPECT_EQ(profile->string("profile"), "Default");
  ASSERT_EQ(profile->children("controllers").size(), 1u);
  ObjectPtr controller = profile->children("controllers")[0];
  EXPECT_EQ(controller->tevNodeValue(), json::Value("DemoMouse"));

  // Controls: buttons 1-16 (button 6 is the precision button), wheel, hat, and X and Y as
  // relative motion (the demo mouse moves the pointer itself, it has no stick).
  std::set<std::uint32_t> elements;
  std::set<std::string> kinds;
  for (const ObjectPtr& control : controller->children("controls")) {
    EXPECT_TRUE(std::dynamic_pointer_cast<engine::ZVControl>(control));
    elements.insert(element(control));
    kinds.insert(control->tevNodeType());
    if (element(control) == 0x90009) {
      EXPECT_EQ(control->string("latched"), "true");
    } else if (element(control) == 0x90006) {
      EXPECT_EQ(control->tevNodeType(), "precision");
    } else if (element(control) == 0x10039) {
      EXPECT_EQ(control->tevNodeType(), "hat");
    } else if (element(control) == 0x10030 || element(control) == 0x10031) {
      EXPECT_EQ(control->tevNodeType(), "motion");
    }
  }
  for (std::uint32_t b = 1; b <= 16; ++b) EXPECT_TRUE(elements.count(0x90000 + b)) << b;
  for (std::uint32_t e : {0x10030u, 0x10031u, 0x10038u, 0x10039u}) EXPECT_TRUE(elements.count(e));
  EXPECT_EQ(kinds, (std::set<std::string>{"button", "hat", "motion", "precision", "wheel"}));

  const ObjectArray& shifts = controller->children("shifts");
  ASSERT_EQ(shifts.size(), 2u);
  for (const ObjectPtr& shift : shifts) {
    EXPECT_TRUE(std::dynamic_pointer_cast<engine::ZVShiftState>(shift));
  }
  const ObjectPtr& normal = shifts[0];
  const ObjectPtr& media = shifts[1];
  EXPECT_EQ(normal->string("name"), "Normal");
  EXPECT_FALSE(normal->child("selectionset"));
  EXPECT_EQ(media->reference("fallback"), normal);
  ObjectPtr selection = media->child("selectionset");
  ASSERT_TRUE(selection);
  std::vector<std::uint32_t> combo;
  for (const ObjectPtr& item : selection->children("buttoncombo")) {
    combo.push_back(item->unsignedNumber("buttonhid"));
  }
  EXPECT_EQ(combo, (std::vector<std::uint32_t>{0x9000e, 0x90010}));

  // Every trigger, band, command and block is of its class; collect what they do.
  std::set<std::string> features;
  for (const ObjectPtr& shift : shifts) {
    for (const ObjectPtr& trigger : shift->children("assignments")) {
      EXPECT_TRUE(std::dynamic_pointer_cast<engine::ZVActionCommandTrigger>(trigger));
      EXPECT_TRUE(trigger->tevNodeValue().isNumber());
      const std::string role = trigger->string("role");
      if (!role.empty()) features.insert("role " + role);
      const ObjectArray& bands = trigger->children("bands");
      if (bands.size() > 1) features.insert("bands " + std::to_string(element(trigger)));
      for (const ObjectPtr& band : bands) {
        EXPECT_TRUE(std::dynamic_pointer_cast<engine::ZVBand>(band));
        EXPECT_GT(band->integer("band"), 0);
        ObjectPtr command = band->child("command");
        if (!command) continue;
        EXPECT_TRUE(std::dynamic_pointer_cast<engine::ZVActionCommand>(command));
        for (const ObjectPtr& block : command->children("actionblocks")) {
          EXPECT_TRUE(std::dynamic_pointer_cast<engine::ZVActionBlock>(block));
          features.insert("block " +
                          (block->string("type").empty() ? "press" : block->string("type")));
          const ObjectArray& actions = block->children("actions");
          for (const ObjectPtr& action : actions) {
            if (action->tevNodeType() == "string") {
              features.insert("open " + action->string("string"));
              continue;
            }
            const std::uint32_t page = action->unsignedNumber("page");
            const std::uint32_t usage = action->unsignedNumber("usage");
            if (page == 7 && usage >= 0xe0 && actions.size() > 2) features.insert("chord");
            if (page == 7 && action->unsignedNumber("time") > 0) features.insert("timed");
            if (page == 0xc) features.insert("media key");
            if (page == 9) features.insert("mouse button");
            if (page == 1 && usage == 0x38) {
              features.insert(action->unsignedNumber("value") == 0xff ? "wheel down" : "wheel up");
            }
          }
        }
      }
    }
  }
  for (const char* wanted :
       {"role bands", "role unprogrammed", "bands 65593", "block press", "block repeat",
        "block release", "chord", "timed", "media key", "mouse button", "wheel up", "wheel down",
        "open /tmp/Kinetra Demo.txt"}) {
    EXPECT_TRUE(features.count(wanted)) << wanted;
  }
  // Pointer-axis roles are for sticks; on the demo mouse's own motion they are refused.
  EXPECT_FALSE(features.count("role mouse-x") || features.count("role mouse-y"));

  // The shift command is the nearest command carrying its GUID.
  ObjectPtr shiftCommand = media->child("shiftcommand");
  ASSERT_TRUE(shiftCommand);
  ObjectPtr command = shiftCommand->reference("shiftcommand");
  ASSERT_TRUE(command);
  EXPECT_EQ(command->string("name"), "Mute while held");
  EXPECT_EQ(command->children("actionblocks").size(), 3u);

  // The blast record keeps its data, digits first.
  ASSERT_EQ(profile->children("blasts").size(), 1u);
  EXPECT_EQ(profile->children("blasts")[0]->string("data"), "00ff2000ff4000ff6000ff8000ffa0ffffff");
}

TEST(DemoProfiles, BundleDescribesTheDemoMouse) {
  std::string error;
  auto info = support::readPropertyListFile(kBundle / "Contents" / "Info.plist", &error);
  ASSERT_TRUE(info && info->isDictionary()) << error;
  const json::Dictionary& root = *info->asDictionary();
  EXPECT_EQ(root.find("Brand")->asString(), "Zenvor");
  const std::string balias = root.find("Balias")->asString();
  const json::Value* devices = root.find("Devices");
  ASSERT_TRUE(devices && devices->isDictionary());
  ASSERT_EQ(devices->asDictionary()->size(), 1u);
  const json::Dictionary& device = *devices->asDictionary()->entry(0).second.asDictionary();
  EXPECT_EQ(device.find("ProductID")->asNumber(), 0x1704);
  EXPECT_EQ(device.find("VendorID")->asNumber(), 0x5A56);
  EXPECT_EQ(device.find("TypeID")->asNumber(), 1);
  EXPECT_FALSE(device.find("Alias")->asString().empty());
  // The seed and default profiles are resources of the bundle and serve its alias.
  const auto resources = kBundle / "Contents" / "Resources";
  for (const std::string& file :
       {device.find("SeedProfile")->asString(), root.find("DefaultProfile")->asString()}) {
    ObjectPtr profile = load(file);
    ASSERT_TRUE(profile) << file;
    EXPECT_EQ(profile->children("controllers").at(0)->string("controller"), balias) << file;
    // Each profile's name is its file name without extension.
    EXPECT_EQ(profile->string("profile") + ".pr0", file);
  }
  EXPECT_EQ(root.find("DefaultProfileName")->asString(), "Default");
}

}  // namespace
}  // namespace zv::profile
