// The bundle scan: criteria with the root fallback, defaults, udids, nested and damaged
// bundles, the application's own plug-ins folder, and controller classes from code.
#include "device/ZVDeviceManager.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "device/ControllerClasses.h"
#include "device/DeviceController.h"
#include "device/DriverSets.h"
#include "json/CJSONDeserializer.h"
#include "testing/FakeHidManager.h"
#include "testing/TemporaryTree.h"

namespace zv::device {
namespace {

using Texts = std::vector<std::string>;

json::DictionaryPtr criteria(std::string_view json) {
  return json::CJSONDeserializer().deserializeAsDictionary(json);
}

// An Info.plist with root entries and "Devices" entries, each given as inner XML.
std::string infoPlist(const std::string& root, const std::vector<std::string>& devices) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                     root + "<key>Devices</key><dict>";
  for (std::size_t i = 0; i < devices.size(); ++i) {
    text += "<key>d" + std::to_string(i) + "</key><dict>" + devices[i] + "</dict>";
  }
  return text + "</dict></dict></plist>\n";
}

std::string entry(const std::string& key, const std::string& value) {
  return "<key>" + key + "</key><string>" + value + "</string>";
}

std::string entry(const std::string& key, int value) {
  return "<key>" + key + "</key><integer>" + std::to_string(value) + "</integer>";
}

Texts udids(const ControllerList& controllers) {
  Texts result;
  for (const auto& controller : controllers) result.push_back(controller->udid());
  return result;
}

class DeviceManagerTest : public ::testing::Test {
 protected:
  DeviceManagerTest() {
    ZVDeviceManager::sharedDeviceManager().reset();
    previousHandler_ = ZVDeviceManager::sharedDeviceManager().setProblemHandler(
        [this](const std::string& message) { problems.push_back(message); });
  }
  ~DeviceManagerTest() override {
    ZVDeviceManager::sharedDeviceManager().setProblemHandler(previousHandler_);
    ZVDeviceManager::sharedDeviceManager().reset();
    resetDriverSets();
  }
  void bundle(const std::string& relative, const std::string& plist) {
    tree.write("share/MainstreamDevices/" + relative + "/Contents/Info.plist", plist);
  }
  ControllerList scan(std::string_view json) {
    return manager.scanBundlesForDevicesMatchingCriteria(criteria(json));
  }

  testing::TemporaryTree tree;
  testing::FakeHidSystem hid;  // the controllers' driver interfaces match on fakes
  ZVDeviceManager& manager = ZVDeviceManager::sharedZVDeviceManager();
  Texts problems;

 private:
  ZVDeviceManager::ProblemHandler previousHandler_;
};

TEST_F(DeviceManagerTest, CriteriaFallBackToTheRootKeyByKey) {
  bundle("A.bundle", infoPlist(entry("Alias", "RootAlias") + entry("Brand", "Acme"),
                               {entry("TypeID", 1), entry("Alias", "Own") + entry("TypeID", 2)}));
  // "Alias" is not a root default: the first description has none of its own, yet
  // matches through the root; so does the second, whose own alias differs.
  EXPECT_EQ(udids(scan(R"({"Alias": "RootAlias"})")), (Texts{"-1", "Own-2"}));
  EXPECT_EQ(udids(scan(R"({"Alias": "Own"})")), Texts{"Own-2"});
  EXPECT_EQ(udids(scan(R"({"Alias": "Own", "Brand": "Acme"})")), Texts{"Own-2"});
  EXPECT_EQ(udids(scan(R"({"Alias": "Nope", "Brand": "Acme"})")), Texts{})
      << "the first key that matches nowhere rejects";
  EXPECT_EQ(udids(scan(R"({"TypeID": "2"})")), Texts{}) << "text never equals a number";
  EXPECT_EQ(udids(scan(R"({"TypeID": 2})")), Texts{"Own-2"});
  EXPECT_EQ(udids(scan("{}")), (Texts{"-1", "Own-2"}));
  EXPECT_EQ(udids(manager.scanBundlesForDevicesMatchingCriteria(nullptr)), Texts{})
      << "no criteria at all make nothing";
  EXPECT_TRUE(problems.empty());
}

TEST_F(DeviceManagerTest, DefaultsUdidsNestingAndDamage) {
  bundle("B.bundle", infoPlist(entry("Brand", "Root") + entry("ProfilePath", "Shared"),
                               {entry("Alias", "M") + entry("TypeID", 3) + entry("Brand", "Own"),
                                entry("Alias", "M") + entry("TypeID", 3)}));
  bundle("Vendor/C.bundle", infoPlist("", {entry("Alias", "Nested")}));
  bundle("Vendor/C.bundle/Contents/PlugIns/D.bundle", infoPlist("", {entry("Alias", "Inner")}));
  tree.write("share/MainstreamDevices/Broken.bundle/Contents/Info.plist", "<plist><dict><key>");
  tree.write("share/MainstreamDevices/Empty.bundle/Contents/Info.plist",
             infoPlist(entry("Brand", "X"), {}));
  tree.write("share/MainstreamDevices/NotABundle/Contents/Info.plist",
             infoPlist("", {entry("Alias", "No")}));

  const ControllerList all = scan("{}");
  EXPECT_EQ(udids(all), (Texts{"M-3", "M-3", "Nested-0", "Inner-0"}));
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0]->brand(), "Own");
  EXPECT_EQ(all[1]->brand(), "Root");
  EXPECT_EQ(all[1]->dictionary()->find("ProfilePath")->asString(), "Shared");
  // Both "M-3" controllers are returned; the later one is the one looked up.
  EXPECT_EQ(manager.deviceWithAlias("M-3"), all[1]);
  EXPECT_EQ(manager.deviceWithAlias("Nested-0"), all[2]);
  EXPECT_EQ(manager.deviceWithAlias("M-4"), nullptr);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("Broken.bundle/Contents/Info.plist"), std::string::npos)
      << problems[0];
  EXPECT_NE(problems[0].find("skipped"), std::string::npos) << problems[0];

  // devices() scans once and keeps its answer; allControllers() scans again.
  const ControllerList first = manager.devices();
  EXPECT_EQ(first.size(), 4u);
  EXPECT_EQ(manager.devices(), first);
  EXPECT_NE(manager.allControllers(), first);
}

TEST_F(DeviceManagerTest, TheApplicationsPlugInsFolderIsScannedAlone) {
  bundle("System.bundle", infoPlist("", {entry("Alias", "System")}));
  EXPECT_EQ(udids(scan("{}")), Texts{"System-0"});
  tree.write("Applications/Tool.app/Contents/Info.plist", infoPlist("", {}));
  tree.write("Applications/Tool.app/Contents/PlugIns/Own.bundle/Contents/Info.plist",
             infoPlist("", {entry("Alias", "Own")}));
  ::setenv("KINETRA_APP_BUNDLE", tree.path("Applications/Tool.app").c_str(), 1);
  EXPECT_EQ(ZVDeviceManager::deviceBundleDirectory(),
            tree.path("Applications/Tool.app/Contents/PlugIns"));
  EXPECT_EQ(DeviceController::bundleDirectory(),
            tree.path("Applications/Tool.app/Contents/PlugIns"));
  EXPECT_EQ(udids(scan("{}")), Texts{"Own-0"});
  ::unsetenv("KINETRA_APP_BUNDLE");
  EXPECT_EQ(DeviceController::bundleDirectory(), tree.path("share/Devices"));
  EXPECT_TRUE(manager.scanFolder(tree.path("missing"), criteria("{}")).empty());
}

TEST_F(DeviceManagerTest, ControllerClassesFromTheBundlesCode) {
  const std::string code =
      "<key>CFBundleExecutable</key><string>Code</string>"
      "<key>NSPrincipalClass</key><string>TestController</string>";
  bundle("Coded.bundle",
         infoPlist(code, {entry("Alias", "Principal"),
                          entry("Alias", "Base") + entry("Class", "DeviceController"),
                          entry("Alias", "Ghost") + entry("Class", "NoSuchController")}));
  std::filesystem::create_directories(
      tree.path("share/MainstreamDevices/Coded.bundle/Contents/Linux"));
  std::filesystem::copy_file(
      ZV_TEST_BUNDLE_CODE,
      tree.path("share/MainstreamDevices/Coded.bundle/Contents/Linux/Code.so"));

  const ControllerList controllers = scan("{}");
  EXPECT_EQ(udids(controllers), (Texts{"Principal-0", "Base-0"}));
  ASSERT_EQ(controllers.size(), 2u);
  EXPECT_EQ(controllers[0]->editorJS(), "/* from the bundle's code */");
  EXPECT_EQ(controllers[1]->editorJS(), "");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("\"NoSuchController\", which neither the library nor the bundle's "
                             "code provides; the device is skipped"),
            std::string::npos)
      << problems[0];

  // Code that does not load is reported; a description of the base class is still made.
  problems.clear();
  bundle("Damaged.bundle", infoPlist("", {entry("Alias", "Plain")}));
  tree.write("share/MainstreamDevices/Damaged.bundle/Contents/Linux/Damaged.so", "not a library");
  EXPECT_EQ(udids(manager.scanFolder(tree.path("share/MainstreamDevices/Damaged.bundle/.."),
                                     criteria(R"({"Alias": "Plain"})"))),
            Texts{"Plain-0"});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("cannot load"), std::string::npos) << problems[0];
}

}  // namespace
}  // namespace zv::device
