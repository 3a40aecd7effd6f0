#include <gtest/gtest.h>

#include <cerrno>

#include "CurrentLocale.h"
#include "DeviceAccess.h"
#include "ImageChooserPath.h"
#include "MouseSettings.h"
#include "WindowPlacement.h"
#include "testing/TemporaryTree.h"

namespace zv::editor {
namespace {

TEST(CurrentLocale, MapsExactMatchesAndElseTakesTwoCharacters) {
  EXPECT_EQ(pageLanguageCode("en-GB"), "en");
  EXPECT_EQ(pageLanguageCode("nn-NO"), "no");
  EXPECT_EQ(pageLanguageCode("zh-Hans"), "zh-CHS");
  EXPECT_EQ(pageLanguageCode("zh-Hant"), "zh-CHT");
  EXPECT_EQ(pageLanguageCode("zh-Hant-TW"), "zh");
  EXPECT_EQ(pageLanguageCode("nn"), "nn");
  EXPECT_EQ(pageLanguageCode("d"), "d");
}

TEST(ImageChooserPath, KeepsEscapesAndDropsTheScheme) {
  EXPECT_EQ(imagePathFromFileURL("file:///home/me/My%20Pictures/fire.png"),
            "/home/me/My%20Pictures/fire.png");
  EXPECT_EQ(imagePathFromFileURL("file://localhost//a//b.gif"), "/localhost/a/b.gif");
  EXPECT_EQ(imagePathFromFileURL("http://example.org/a.png"), "");
}

TEST(WindowPlacement, FramesAreKeptOnTheScreenAndShrunkOnlyWhenTooLarge) {
  const Rect screen{0, 30, 1280, 970};  // a top panel, 1000 pixels high
  struct Case {
    Rect frame;
    Rect expected;
  };
  for (const auto& [frame, expected] : std::vector<Case>{
           {{100, 100, 900, 675}, {100, 100, 900, 675}},  // fits: stays
           {{0, 335, 900, 675}, {0, 325, 900, 675}},      // hangs off the foot
           {{-50, 0, 900, 675}, {0, 30, 900, 675}},       // off the left, under the panel
           {{900, 100, 900, 675}, {380, 100, 900, 675}},  // off the right
           {{0, 0, 2000, 1200}, {0, 30, 1280, 970}},      // from a larger screen
       }) {
    EXPECT_EQ(fitOnScreen(frame, screen), expected) << frame.x << "," << frame.y;
  }
}

TEST(WindowPlacement, EdgesAndCornersWithinTheBorder) {
  EXPECT_EQ(resizeEdgesAt({2, 300}, 900, 675, 6), kLeftEdge);
  EXPECT_EQ(resizeEdgesAt({897, 672}, 900, 675, 6), kRightEdge | kBottomEdge);
  EXPECT_EQ(resizeEdgesAt({450, 1}, 900, 675, 6), kTopEdge);
  EXPECT_EQ(resizeEdgesAt({450, 300}, 900, 675, 6), 0);
  EXPECT_EQ(resizeEdgesAt({-1, 300}, 900, 675, 6), 0);
}

TEST(MouseSettings, OpensTheDesktopsOwnSettingsOrSaysWhy) {
  auto installed = [](const std::string& program) {
    return program == "gnome-control-center" || program == "kcmshell5";
  };
  EXPECT_EQ(mouseSettingsLaunch("ubuntu:GNOME", installed).command,
            (std::vector<std::string>{"gnome-control-center", "mouse"}));
  // Plasma without systemsettings falls back to kcmshell5.
  EXPECT_EQ(mouseSettingsLaunch("KDE", installed).command,
            (std::vector<std::string>{"kcmshell5", "kcm_mouse"}));
  const auto xfce = mouseSettingsLaunch("XFCE", installed);
  EXPECT_TRUE(xfce.command.empty());
  EXPECT_NE(xfce.message.find("not installed"), std::string::npos);
  const auto sway = mouseSettingsLaunch("sway", installed);
  EXPECT_TRUE(sway.command.empty());
  EXPECT_NE(sway.message.find("(sway)"), std::string::npos);
  EXPECT_NE(sway.message.find("gnome-control-center mouse"), std::string::npos);
}

TEST(DeviceAccess, FindsTheMousesHidrawNodesButNotTheDriversOwn) {
  zv::testing::TemporaryTree tree;
  auto hidraw = [&](const std::string& name, const std::string& device, const std::string& id) {
    tree.write("sys/devices/" + device + "/uevent", "DRIVER=hid-generic\nHID_ID=" + id + "\n");
    std::filesystem::create_directories(tree.path("sys/class/hidraw/" + name));
    std::filesystem::create_directory_symlink(tree.path("sys/devices/" + device),
                                              tree.path("sys/class/hidraw/" + name + "/device"));
  };
  hidraw("hidraw0", "pci0000:00/usb1/0003:5A56:1704.0001", "0003:00005A56:00001704");
  hidraw("hidraw1", "pci0000:00/usb1/0003:046D:C077.0002", "0003:0000046D:0000C077");
  hidraw("hidraw2", "virtual/misc/uhid/0003:5A56:1704.0003", "0003:00005A56:00001704");
  hidraw("hidraw3", "pci0000:00/usb1/0003:5A56:1704.0004", "garbage");
  EXPECT_EQ(hidrawNodesOf({{0x5A56, 0x1704}}, tree.path("sys/class/hidraw"), "/dev"),
            std::vector<std::filesystem::path>{"/dev/hidraw0"});
  EXPECT_TRUE(hidrawNodesOf({{0x5A56, 0x1704}}, tree.path("missing")).empty());
}

TEST(DeviceAccess, RefusedNodesAreNamedWithTheLinuxWayToGetAccess) {
  const auto refused = refusedNodes({"/dev/uinput", "/dev/hidraw0", "/dev/hidraw1"},
                                    [](const std::filesystem::path& node) {
                                      if (node == "/dev/uinput") return ENOENT;
                                      return node == "/dev/hidraw0" ? EACCES : 0;
                                    });
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(accessAlertMessage("Zenvor"), "Zenvor Editor needs your permission to run");
  const auto advice = accessAlertAdvice(refused);
  EXPECT_NE(
      advice.find("/dev/uinput (No such file or directory) and /dev/hidraw0 (Permission denied)"),
      std::string::npos);
  EXPECT_NE(advice.find("sudo modprobe uinput"), std::string::npos);
  EXPECT_NE(advice.find("usermod -aG input"), std::string::npos);
  EXPECT_NE(advice.find("restart the editor"), std::string::npos);
}

}  // namespace
}  // namespace zv::editor
