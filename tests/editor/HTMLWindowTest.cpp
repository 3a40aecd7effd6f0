#include <gtest/gtest.h>

#include "FakeWindowHost.h"
#include "ZVHTMLWindow.h"
#include "output/RecordingOutput.h"
#include "output/ZVKeyboard.h"
#include "testing/FakeInputDevices.h"

namespace zv::editor {
namespace {

using testing::FakeWindowHost;
using Delivery = FakeWindowHost::Delivery;

class HTMLWindowTest : public ::testing::Test {
 protected:
  HTMLWindowTest() {
    auto source = std::make_shared<zv::testing::FakeInputDeviceSource>();
    source->add(output::InputDeviceKind::keyboard,
                std::make_shared<zv::testing::FakeInputDevice>("keyboard"));
    keyboard = std::make_shared<output::ZVKeyboard>(std::make_shared<output::RecordingOutput>(),
                                                    output::TapServices{source, watcher});
    host.keyboard = keyboard;
    ZVHTMLWindow::resetSharedPointerState();
  }

  std::shared_ptr<zv::testing::FakeFdWatcher> watcher =
      std::make_shared<zv::testing::FakeFdWatcher>();
  std::shared_ptr<output::ZVKeyboard> keyboard;
  FakeWindowHost host;
};

TEST_F(HTMLWindowTest, LoadsThePageFromTheResourceFolderHiddenAndRefusesPathsOutOfIt) {
  ZVHTMLWindow window(host, "/bundle/Contents/Resources", "Page.html", keyboard);
  EXPECT_EQ(host.loaded,
            std::vector<std::filesystem::path>{"/bundle/Contents/Resources/Page.html"});
  EXPECT_FALSE(host.visible);

  for (const char* file : {"../../../etc/passwd", "/etc/passwd", "a/../../x.html", ""}) {
    const auto before = host.children.size();
    auto arguments = json::makeDictionary();
    arguments->set("file", json::Value(file));
    EXPECT_EQ(window.createChildWindowWithArguments(json::Value(arguments)), before) << file;
  }
  EXPECT_TRUE(host.children.empty());
}

TEST_F(HTMLWindowTest, KeyTapReportsElapsedTimesAndOnlyToTheLastFunction) {
  ZVHTMLWindow window(host, "/r", "Page.html", keyboard);
  window.startKeyTapJS("first");
  window.startKeyTapJS("second");
  EXPECT_TRUE(keyboard->tapping());
  EXPECT_EQ(window.keyboardCallback(), "second");

  window.onKey(7, 4, 1, 1000);
  window.onKey(7, 4, 0, 1250);
  ASSERT_EQ(host.scripts.size(), 2u);
  EXPECT_EQ(host.scripts[0], "second(7, 4, 1, 0)");
  EXPECT_EQ(host.scripts[1], "second(7, 4, 0, 250)");

  // A new tap starts counting again.
  window.startKeyTapJS("third");
  window.onKey(7, 5, 1, 5000);
  EXPECT_EQ(host.scripts.back(), "third(7, 5, 1, 0)");

  window.stopKeyTapJS();
  EXPECT_FALSE(keyboard->tapping());
  window.onKey(7, 5, 0, 6000);
  EXPECT_EQ(host.scripts.size(), 3u);
}

TEST_F(HTMLWindowTest, DragFollowsThePointerAndEndsOnTheLeftReleaseOnly) {
  ZVHTMLWindow window(host, "/r", "Page.html", keyboard);
  host.currentFrame = {100, 200, 900, 675};
  host.cursor = {150, 210};
  window.startWindowDrag();
  EXPECT_TRUE(window.inDrag());
  EXPECT_TRUE(host.grabbed);

  window.onMouse(0, 0, {300, 400});
  EXPECT_EQ(host.currentFrame, (Rect{250, 390, 900, 675}));
  window.onMouse(2, 0, {310, 410});  // a right release does not end it
  EXPECT_TRUE(window.inDrag());
  window.onMouse(1, 0, {320, 420});
  EXPECT_EQ(host.currentFrame, (Rect{270, 410, 900, 675}));
  EXPECT_FALSE(window.inDrag());
  EXPECT_FALSE(host.grabbed);
  window.onMouse(0, 0, {500, 500});
  EXPECT_EQ(host.currentFrame.x, 270);
}

TEST_F(HTMLWindowTest, DragIsTheDesktopsWhereWindowsCannotPlaceThemselves) {
  host.placesWindows = false;
  ZVHTMLWindow window(host, "/r", "Page.html", keyboard);
  window.startWindowDrag();
  EXPECT_EQ(host.systemMoves, 1);
  EXPECT_FALSE(window.inDrag());
  EXPECT_FALSE(host.grabbed);
}

TEST_F(HTMLWindowTest, PopupShownWithTheButtonHeldGetsDownAndUpAtTheReleaseThenHides) {
  ZVHTMLWindow window(host, "/r", "Page.html", keyboard);
  host.cursor = {500, 300};
  host.leftDown = true;
  window.displayAtMouseWithSize(200, 150);
  EXPECT_EQ(host.currentFrame, (Rect{400, 300, 200, 150}));
  EXPECT_TRUE(host.visible);
  EXPECT_TRUE(window.canBecomeKeyWindow());
  EXPECT_TRUE(host.grabbed);

  window.mouseMovedOverWindow();
  window.onMouse(0, 0, {450, 350});
  window.onMouse(1, 0, {460, 360});
  EXPECT_EQ(host.deliveries, (std::vector<Delivery>{{MouseDelivery::Move, {50, 50}},
                                                    {MouseDelivery::LeftDown, {60, 60}},
                                                    {MouseDelivery::LeftUp, {60, 60}}}));
  EXPECT_TRUE(host.visible);  // the hide is queued
  host.runPosted();
  EXPECT_FALSE(host.visible);
  EXPECT_FALSE(host.grabbed);
}

TEST_F(HTMLWindowTest, PopupStaysUntilThePointerHasBeenOverIt) {
  ZVHTMLWindow window(host, "/r", "Page.html", keyboard);
  host.cursor = {500, 300};
  window.displayAtMouseWithSize(200, 150);
  // Press and release outside without ever moving over the window: it stays.
  window.onMouse(1, 1, {10, 10});
  window.onMouse(1, 0, {10, 10});
  host.runPosted();
  EXPECT_TRUE(host.visible);
  // A right click delivers a left down and up to the page.
  window.mouseMovedOverWindow();
  window.onMouse(2, 1, {410, 310});
  window.onMouse(2, 0, {410, 310});
  EXPECT_EQ(host.deliveries.back(), (Delivery{MouseDelivery::LeftUp, {10, 10}}));
  host.runPosted();
  EXPECT_FALSE(host.visible);
}

TEST_F(HTMLWindowTest, ChildrenAreNumberedFromOneAndReachedByNumber) {
  ZVHTMLWindow window(host, "/bundle/Resources", "Main.html", keyboard);
  auto arguments = json::makeDictionary();
  arguments->set("file", json::Value("Child.html"));
  EXPECT_EQ(window.createChildWindowWithArguments(json::Value(arguments)), 1u);
  EXPECT_EQ(window.createChildWindowWithArguments(json::Value(arguments)), 2u);
  EXPECT_EQ(window.createChildWindowWithArguments(json::Value(arguments)), 3u);
  EXPECT_EQ(window.createChildWindowWithArguments(json::Value(json::makeDictionary())), 3u);
  EXPECT_EQ(window.createChildWindowWithArguments(json::Value("Child.html")), 3u);
  ASSERT_EQ(host.children.size(), 3u);
  EXPECT_EQ(host.children[0].host->loaded.front(), "/bundle/Resources/Child.html");
  EXPECT_FALSE(host.children[1].host->visible);

  window.invokeJavascriptOnChildWindow("hello()", 2);
  EXPECT_TRUE(host.children[0].host->scripts.empty());
  EXPECT_EQ(host.children[1].host->scripts, std::vector<std::string>{"hello()"});
  for (std::int64_t wrong : {0, 4, -1}) window.invokeJavascriptOnChildWindow("x()", wrong);

  host.children[2].window->invokeJavascriptOnParentWindow("fromChild()");
  EXPECT_EQ(host.scripts, std::vector<std::string>{"fromChild()"});
  window.invokeJavascriptOnParentWindow("nowhere()");  // no parent: nothing
  EXPECT_EQ(host.scripts.size(), 1u);

  host.currentFrame = {100, 100, 900, 675};
  window.displayChildWindow(1, 20, 80);
  EXPECT_EQ(host.children[0].host->currentFrame, (Rect{120, 114, 500, 66}));
  EXPECT_TRUE(host.children[0].host->floating);
  EXPECT_FALSE(host.children[0].host->visible);
  window.setChildWindowIsVisible(1, true);
  EXPECT_TRUE(host.children[0].host->visible);
}

TEST_F(HTMLWindowTest, SetIsVisibleEndsAGestureAndCloseStopsTheKeyTap) {
  ZVHTMLWindow window(host, "/r", "Page.html", keyboard);
  window.startWindowDrag();
  window.setIsVisible(true);
  EXPECT_FALSE(window.inDrag());
  EXPECT_FALSE(host.grabbed);
  EXPECT_TRUE(host.visible);
  window.startKeyTapJS("keys");
  window.close();
  EXPECT_TRUE(host.closed);
  EXPECT_FALSE(keyboard->tapping());
}

}  // namespace
}  // namespace zv::editor
