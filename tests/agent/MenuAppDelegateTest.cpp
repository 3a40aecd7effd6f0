// The agent's delegate on a real store of profile files: start-up, the profile menu and
// its latch, "Clear" and picking a profile again, the status item following
// "HideStatusMenu", the switcher check before presses, the editor, and waiting for a
// device bundle.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>

#include "AgentTestSupport.h"
#include "engine/ZVProfile.h"
#include "store/SharedFile.h"
#include "store/ZVPreferencesFile.h"
#include "store/ZVProfileSwitcher.h"
#include "support/NotificationCenter.h"
#include "testing/EngineHarness.h"

namespace zv::agent::testing {
namespace {

using std::string;
using std::vector;

bool noProfileOnDisk(const store::ZVProfileStore& store) {
  const auto read = store::readSharedDictionary(store.profileInfoFile(), {});
  if (!read.dictionary) return false;
  const json::Value* settings = read.dictionary->find("settings");
  if (!settings || !settings->isDictionary()) return false;
  const json::Value* value = settings->asDictionary()->find("NoProfile");
  return value && value->isNumber() && value->asBoolean();
}

TEST_F(AgentTest, StartsUpAsTheExecutiveWithItsDeviceItemAndStore) {
  installDemoBundle();
  device::DeviceController::setIsExecutive(false);
  launchAndWaitForProfile();
  EXPECT_TRUE(device::DeviceController::isExecutive());
  ASSERT_TRUE(agent->device());
  EXPECT_EQ(agent->device()->udid(), "DemoMouse-1");
  // The preferences file was created and its first notification showed the item.
  ASSERT_TRUE(agent->preferencesFile());
  EXPECT_TRUE(fs::exists(agent->preferencesFile()->filePath()));
  EXPECT_EQ(statusBar->itemsShown, 1);
  EXPECT_EQ(statusBar->toolTip, "Zenvor Demo Mouse");
  ASSERT_EQ(statusBar->view, &agent->statusView());
  EXPECT_EQ(agent->statusView().toolTip, "Demo Mouse");
  EXPECT_EQ(agent->statusView().image.filename(), "MenuIcon.png");
  EXPECT_TRUE(agent->profileSwitcher());
  // The executive started with the default profile and told the trace.
  EXPECT_EQ(store()->currentProfileName(), "Default");
  EXPECT_NE(std::find(trace->lines.begin(), trace->lines.end(), "profile Default"),
            trace->lines.end());
}

TEST_F(AgentTest, MenuHoldsTheNamesASeparatorAndClearWithTheDefaultTitleChecked) {
  installDemoBundle();
  launchAndWaitForProfile();
  addProfile("Game");
  store()->readDirectory();
  EXPECT_EQ(agent->numberOfItemsInMenu(agent->currentProfileMenu()), 4);
  // The first entry shows the localized title, yet carries the check mark of the current
  // profile, whose own name is "Default".
  EXPECT_EQ(showMenu(), (vector<string>{"*Zenvor Standard", "Game", "-", "Turn Off"}));
  const auto& items = agent->currentProfileMenu().items();
  EXPECT_EQ(items[0].representedObject, "Default");
  EXPECT_EQ(items[1].tag, 1);
  EXPECT_EQ(items[1].action, MenuAction::currentProfileSelect);
  EXPECT_EQ(items[3].action, MenuAction::clearProfile);
  for (const auto& item : items) EXPECT_EQ(item.target, agent.get());

  // Picking the first entry selects the profile it stands for, not its shown title.
  store()->setCurrentProfileByName("Game");
  showMenu();
  ASSERT_TRUE(agent->currentProfileMenu().performActionForItemAtIndex(0));
  EXPECT_EQ(store()->currentProfileName(), "Default");
}

TEST_F(AgentTest, AddedProfilesTurnTheSeparatorSlotIntoAnEntryAndMoveTheSeparator) {
  installDemoBundle();
  launchAndWaitForProfile();
  EXPECT_EQ(showMenu(), (vector<string>{"*Zenvor Standard", "-", "Turn Off"}));
  addProfile("Game");
  addProfile("Work");
  // The folder's watch tells the store, the store its delegate.
  ASSERT_TRUE(waitFor([&] { return agent->profileMenuNeedsUpdate(); }));
  ASSERT_TRUE(waitFor([&] { return store()->profileNames().size() == 3; }));
  EXPECT_EQ(showMenu(), (vector<string>{"*Zenvor Standard", "Game", "Work", "-", "Turn Off"}));
  const auto& items = agent->currentProfileMenu().items();
  EXPECT_FALSE(items[1].isSeparatorItem()) << "the old separator slot is a plain entry again";
  EXPECT_TRUE(items[1].enabled);
}

TEST_F(AgentTest, AMenuPassWithoutTheFlagRewritesNothing) {
  installDemoBundle();
  launchAndWaitForProfile();
  showMenu();
  ASSERT_FALSE(agent->profileMenuNeedsUpdate());
  agent->currentProfileMenu().itemAtIndex(0).title = "stale";
  addProfile("Game");
  store()->readDirectory();  // sets the flag
  // Another store change arrives while the flag is set: one pass consumes it.
  EXPECT_TRUE(agent->profileMenuNeedsUpdate());
  showMenu();
  EXPECT_TRUE(agent->profileMenuInUpdate());
  EXPECT_FALSE(agent->profileMenuNeedsUpdate());
  agent->currentProfileMenu().itemAtIndex(1).title = "stale";
  EXPECT_EQ(showMenu(), (vector<string>{"*Zenvor Standard", "stale", "-", "Turn Off"}));
  EXPECT_FALSE(agent->profileMenuInUpdate());
}

TEST_F(AgentTest, ClearDropsEventsAndRecordsNoProfileUntilAProfileIsPickedAgain) {
  installDemoBundle();
  launchAndWaitForProfile();
  addProfile("Game");
  store()->readDirectory();
  showMenu();
  ASSERT_TRUE(agent->currentProfileMenu().performActionForItemAtIndex(3));  // "Turn Off"
  EXPECT_TRUE(agent->noProfile());
  EXPECT_TRUE(store()->noProfile());
  EXPECT_TRUE(noProfileOnDisk(*store()));
  // The menu was updated at once: nothing checked.
  for (const auto& item : agent->currentProfileMenu().items()) EXPECT_FALSE(item.on) << item.title;

  trace->lines.clear();
  agent->device()->onElementEvent(0x90004, 1, 0);
  agent->device()->onElementEvent(0x90004, 0, 0);
  EXPECT_EQ(trace->lines, (vector<string>{"event 0x90004 1 dropped", "event 0x90004 0 dropped"}));

  // The store reads back its own write and drops the profile; the agent stays off.
  ASSERT_TRUE(waitFor([&] { return !store()->currentProfile(); }));
  EXPECT_TRUE(agent->noProfile());

  showMenu();
  ASSERT_TRUE(agent->currentProfileMenu().performActionForItemAtIndex(1));  // "Game"
  EXPECT_FALSE(agent->noProfile());
  ASSERT_TRUE(waitFor([&] { return store()->currentProfile() != nullptr; }));
  EXPECT_FALSE(noProfileOnDisk(*store()));
  EXPECT_EQ(showMenu(), (vector<string>{"Zenvor Standard", "*Game", "-", "Turn Off"}));
  agent->device()->onElementEvent(0x90004, 1, 0);
  agent->device()->onElementEvent(0x90004, 0, 0);
  // Game's button 4 is Page Up; the command runs on a thread of its own.
  ASSERT_TRUE(waitFor([&] { return keys() >= 2; }));
  EXPECT_EQ(output->events().front().code, KEY_PAGEUP);
}

TEST_F(AgentTest, TheStatusItemFollowsHideStatusMenuAndIsNeverDoubled) {
  installDemoBundle();
  launchAndWaitForProfile();
  ASSERT_EQ(statusBar->itemsShown, 1);
  postHideStatusMenu(0);
  EXPECT_EQ(statusBar->itemsShown, 1);
  EXPECT_EQ(statusBar->itemsMade, 1) << "a second 'show' made another item";
  postHideStatusMenu(1);
  EXPECT_EQ(statusBar->itemsShown, 0);
  postHideStatusMenu(1);
  EXPECT_EQ(statusBar->itemsShown, 0);
  EXPECT_EQ(statusBar->itemsMade, 1);
  // A notification without the key shows the item, and asks for a fresh menu.
  showMenu();
  postHideStatusMenu(std::nullopt);
  EXPECT_EQ(statusBar->itemsShown, 1);
  EXPECT_TRUE(agent->profileMenuNeedsUpdate());

  // Through the file, as the settings window writes it.
  agent->preferencesFile()->prefs()->set("HideStatusMenu", json::Value::boolean(true));
  ASSERT_TRUE(agent->preferencesFile()->save());
  ASSERT_TRUE(waitFor([&] { return statusBar->itemsShown == 0; }));
}

TEST_F(AgentTest, PressesAndReleasesAskTheSwitcherFirstLargerValuesDoNot) {
  installDemoBundle();
  launchAndWaitForProfile();
  addProfile("Game");
  store()->readDirectory();
  const auto& switcher = agent->profileSwitcher();
  ASSERT_TRUE(switcher);
  // A profile chosen elsewhere becomes the one to return to at the switcher's next check.
  const auto choose = [&](const string& name) {
    store()->setCurrentProfileByName(name);
    ASSERT_NE(switcher->originalProfile(), name);
  };
  choose("Game");
  agent->device()->onElementEvent(0x10030, 2, 0);
  EXPECT_EQ(switcher->originalProfile(), "Default") << "value 2 was preceded by a check";
  agent->device()->onElementEvent(0x10030, 1, 0);
  EXPECT_EQ(switcher->originalProfile(), "Game") << "no check before value 1";
  choose("Default");
  agent->device()->onElementEvent(0x10030, 0, 0);
  EXPECT_EQ(switcher->originalProfile(), "Default") << "no check before value 0";
  choose("Game");
  agent->device()->onElementEvent(0x10030, -1, 0);
  EXPECT_EQ(switcher->originalProfile(), "Game") << "no check before value -1";
}

TEST_F(AgentTest, ALinkedApplicationTakesOverBeforeThePressIsRouted) {
  installDemoBundle();
  launchAndWaitForProfile();
  addProfile("Game");
  store()->readDirectory();
  ASSERT_TRUE(agent->profileSwitcher()->setProfile("Game", "/usr/games/game"));
  frontmost->focus(fs::path("/usr/games/game"));
  EXPECT_EQ(store()->currentProfileName(), "Game");
  agent->device()->onElementEvent(0x90004, 1, 0);
  agent->device()->onElementEvent(0x90004, 0, 0);
  ASSERT_TRUE(waitFor([&] { return keys() >= 2; }));
  EXPECT_EQ(output->events().front().code, KEY_PAGEUP);
}

TEST_F(AgentTest, ChoosingAStartupProfileSwitchesProfilesBackOn) {
  installDemoBundle();
  launchAndWaitForProfile();
  store()->setNoProfile(true);
  store()->settings()->set("NoProfile", json::Value::boolean(true));
  agent->startupProfileHasChanged();
  EXPECT_FALSE(store()->noProfile());
  EXPECT_FALSE(noProfileOnDisk(*store()));
}

TEST_F(AgentTest, TheEditorIsTheDevicesOwnOrElseTheSuitesEditor) {
  installDemoBundle();
  launchAndWaitForProfile();
  agent->statusView().mouseDown();
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0], tree.path("Applications/Zenvor Editor.app"))
      << "no 'Demo Mouse.app' is installed: the suite's editor stands in";
  fs::create_directories(tree.path("Applications/Demo Mouse.app"));
  agent->statusView().mouseDown();
  EXPECT_EQ(launched.at(1), tree.path("Applications/Demo Mouse.app"));
  launchSucceeds = false;
  agent->statusView().mouseDown();
  EXPECT_EQ(logged("cannot open the editor"), 1u);
  EXPECT_TRUE(agent->applicationOpenFile("/nonexistent/file.txt"));
}

TEST_F(AgentTest, WithoutABundleItSaysSoOnceAndStartsWhenOneIsInstalled) {
  launch();
  EXPECT_FALSE(agent->started());
  EXPECT_FALSE(agent->device());
  EXPECT_EQ(logged("no device bundle describes the device 'DemoMouse'"), 1u);
  EXPECT_EQ(trace->lines, vector<string>{"waiting DemoMouse"});
  EXPECT_EQ(statusBar->itemsShown, 0);
  // A bundle for another device changes nothing.
  tree.write("share/MainstreamDevices/Other.bundle/Contents/Info.plist",
             R"(<plist version="1.0"><dict><key>Devices</key><dict><key>O</key><dict>
                <key>Alias</key><string>Other</string></dict></dict></dict></plist>)");
  installDemoBundle();
  ASSERT_TRUE(waitFor([&] { return agent->started(); }));
  EXPECT_EQ(agent->device()->alias(), "DemoMouse");
  EXPECT_EQ(statusBar->itemsShown, 1);
  EXPECT_EQ(logged("no device bundle describes"), 1u) << "said once";
}

TEST_F(AgentTest, TerminatingStopsTheProfileAndTheItem) {
  installDemoBundle();
  launchAndWaitForProfile();
  agent->applicationWillTerminate();
  EXPECT_EQ(statusBar->itemsShown, 0);
  EXPECT_FALSE(agent->profileSwitcher());
  EXPECT_FALSE(store()->currentProfile()->currentShiftState()) << "the shift state still runs";
  postHideStatusMenu(0);
  EXPECT_EQ(statusBar->itemsShown, 0) << "an item came back after the end";
}

}  // namespace
}  // namespace zv::agent::testing
