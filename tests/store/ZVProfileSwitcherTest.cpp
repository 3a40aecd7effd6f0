// Application links: the links file, and the switcher following a (fake) focused
// application through the scenarios of linked and unlinked applications, by-hand
// choices, no profile, deleted profiles, keys held across a switch, and other processes
// rewriting or replacing the links file.
#include "store/ZVProfileSwitcher.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>

#include "StoreTestSupport.h"
#include "engine/CommandThreads.h"
#include "output/RecordingOutput.h"
#include "platform/AtomicFile.h"
#include "support/PropertyList.h"
#include "testing/FakeFrontmostApplication.h"

namespace zv::store::testing {
namespace {

using std::optional;
using std::string;

class SwitcherListener : public ZVProfileSwitcherDelegate {
 public:
  void profileSwitcherConfigurationUpdated(ZVProfileSwitcher&) override { ++updates; }
  int updates = 0;
};

class SwitcherTest : public StoreTest {
 protected:
  SwitcherTest() {
    for (const char* name : {"Work", "Game", "Chat"}) addProfile(name);
    open();
    store->setCurrentProfileByName("Work");
    switcher = ZVProfileSwitcher::create(device, frontmost);
    EXPECT_TRUE(switcher);
  }
  ~SwitcherTest() override { switcher.reset(); }

  void focus(const string& executable) { frontmost->focus(fs::path(executable)); }
  int switchedNotices() const {
    return static_cast<int>(std::count(notices.begin(), notices.end(), "switched APP!\n"));
  }
  json::DictionaryPtr fileLinks() const {
    const auto read = readSharedDictionary(switcher->configPath(), {});
    return read.dictionary ? read.dictionary : json::makeDictionary();
  }

  std::shared_ptr<zv::testing::FakeFrontmostApplication> frontmost =
      std::make_shared<zv::testing::FakeFrontmostApplication>();
  std::shared_ptr<ZVProfileSwitcher> switcher;
};

TEST_F(SwitcherTest, StoresLinksUnderNormalisedKeys) {
  EXPECT_TRUE(fs::exists(switcher->configPath())) << "a missing file is created empty";
  ASSERT_TRUE(switcher->setProfile("Game", "file:///Applications/Example.app/"));
  ASSERT_TRUE(switcher->setProfile("Chat", "/opt/My Chat/chat"));
  const auto links = fileLinks();
  ASSERT_EQ(links->size(), 2u);
  EXPECT_EQ(links->find("file:/Applications/Example.app")->asString(), "Game");
  EXPECT_EQ(links->find("file:/opt/My%20Chat/chat")->asString(), "Chat");
  EXPECT_EQ(switcher->mappingsForProfile("Game"),
            std::vector<string>{"file:/Applications/Example.app"});
  ASSERT_TRUE(switcher->unsetProfile("", "/opt/My Chat/chat"));
  EXPECT_EQ(fileLinks()->size(), 1u);
}

TEST_F(SwitcherTest, ALinkedApplicationBringsItsProfileAndLeavingItBringsTheOldOneBack) {
  switcher->setProfile("Game", "/usr/games/game");
  focus("/usr/games/game");
  EXPECT_EQ(store->currentProfileName(), "Game");
  EXPECT_EQ(switcher->originalProfile(), "Work");
  EXPECT_EQ(switcher->lastAutoProfile(), "Game");
  focus("/usr/bin/editor");
  EXPECT_EQ(store->currentProfileName(), "Work");
  EXPECT_FALSE(switcher->lastAutoProfile());
}

TEST_F(SwitcherTest, TwoLinkedApplicationsInARowReturnToTheProfileFromBeforeTheFirst) {
  switcher->setProfile("Game", "/usr/games/game");
  switcher->setProfile("Chat", "/usr/bin/chat");
  focus("/usr/games/game");
  focus("/usr/bin/chat");
  EXPECT_EQ(store->currentProfileName(), "Chat");
  focus("/usr/bin/editor");
  EXPECT_EQ(store->currentProfileName(), "Work");
  // Unlinked, the same applications change nothing any more.
  switcher->unsetProfile("", "file:/usr/games/game");
  switcher->unsetProfile("", "file:/usr/bin/chat");
  focus("/usr/games/game");
  focus("/usr/bin/chat");
  EXPECT_EQ(store->currentProfileName(), "Work");
}

TEST_F(SwitcherTest, AProfileChosenByHandWhileLinkedIsTheOneToReturnTo) {
  switcher->setProfile("Game", "/usr/games/game");
  focus("/usr/games/game");
  store->setCurrentProfileByName("Chat");
  switcher->check();
  EXPECT_EQ(switcher->originalProfile(), "Chat");
  focus("/usr/bin/editor");
  EXPECT_EQ(store->currentProfileName(), "Chat");
}

TEST_F(SwitcherTest, WithNoProfileBeforeLeavingTheLinkedApplicationMeansNoProfileAgain) {
  store->setCurrentProfileByName("");
  store->readInfo();
  switcher->setProfile("Game", "/usr/games/game");
  focus("/usr/games/game");
  EXPECT_FALSE(store->noProfile());
  EXPECT_EQ(store->currentProfileName(), "Game");
  EXPECT_EQ(switcher->originalProfile(), std::nullopt);
  focus("/usr/bin/editor");
  EXPECT_TRUE(store->noProfile());
}

TEST_F(SwitcherTest, TheSameApplicationTwiceChangesAndLogsOnce) {
  switcher->setProfile("Game", "/usr/games/game");
  focus("/usr/games/game");
  store->setCurrentProfileByName("Chat");
  focus("/usr/games/game");  // another window of the same application
  EXPECT_EQ(switchedNotices(), 1);
  EXPECT_EQ(store->currentProfileName(), "Chat");
}

TEST_F(SwitcherTest, ALinkToADeletedProfileIsDroppedAndChangesNothing) {
  switcher->setProfile("Game", "/usr/games/game");
  ASSERT_TRUE(store->deleteProfileWithName("Game"));
  focus("/usr/games/game");
  EXPECT_EQ(store->currentProfileName(), "Work");
  EXPECT_TRUE(switcher->mappingsForProfile("Game").empty());
  EXPECT_EQ(fileLinks()->size(), 1u) << "dropped in memory only";
}

TEST_F(SwitcherTest, NoWindowFocusedCountsAsAnApplicationWithoutLink) {
  switcher->setProfile("Game", "/usr/games/game");
  focus("/usr/games/game");
  frontmost->focusNothing();
  EXPECT_EQ(store->currentProfileName(), "Work");
}

TEST_F(SwitcherTest, AKeyHeldWhenTheFocusMovesIsReleasedByTheProfileLeft) {
  auto output = std::make_shared<output::RecordingOutput>();
  output::setSharedOutput(output);
  switcher->setProfile("Game", "/usr/games/game");
  const auto work = store->currentProfile();
  work->onElementEvent(0x90004, 1);  // Back: Page Down, held
  auto pageDown = [&](int value) {
    const auto events = output->events();
    return std::any_of(events.begin(), events.end(), [&](const auto& event) {
      return event.code == KEY_PAGEDOWN && event.value == value;
    });
  };
  ASSERT_TRUE(waitFor([&] { return pageDown(1); }));
  focus("/usr/games/game");
  EXPECT_EQ(store->currentProfileName(), "Game");
  EXPECT_TRUE(waitFor([&] { return pageDown(0); })) << "Page Down stays pressed";
  // The release reaches the new profile, which did not see the press: nothing happens.
  store->currentProfile()->onElementEvent(0x90004, 0);
  engine::CommandThreads::shared().cancelAndJoinAll();
  output::setSharedOutput(nullptr);
}

TEST_F(SwitcherTest, FollowsAnotherProcesssEditsAlsoOfAReplacedFile) {
  auto heard = std::make_shared<SwitcherListener>();
  switcher->setDelegate(heard);
  auto links = json::makeDictionary();
  links->set("file:/usr/games/game", json::Value("Game"));
  ASSERT_TRUE(
      writeSharedFile(switcher->configPath(), support::writePropertyListXML(json::Value(links))));
  ASSERT_TRUE(waitFor([&] { return switcher->profileForKey("file:/usr/games/game") == "Game"; }));
  // Another program saves atomically: the file is replaced.
  links->set("file:/usr/bin/chat", json::Value("Chat"));
  ASSERT_TRUE(platform::writeFileAtomically(switcher->configPath(),
                                            support::writePropertyListXML(json::Value(links))));
  ASSERT_TRUE(waitFor([&] { return switcher->profileForKey("/usr/bin/chat").has_value(); }));
  // And writes into the new file in place: still seen.
  links->erase("file:/usr/games/game");
  ASSERT_TRUE(
      writeSharedFile(switcher->configPath(), support::writePropertyListXML(json::Value(links))));
  ASSERT_TRUE(waitFor([&] { return !switcher->profileForKey("file:/usr/games/game"); }));
  EXPECT_GE(heard->updates, 3);
}

TEST_F(SwitcherTest, KeepsItsLinksWhenTheFileIsDamaged) {
  switcher->setProfile("Game", "/usr/games/game");
  switcher->setRetryPause({});
  ASSERT_TRUE(writeSharedFile(switcher->configPath(), "<plist><dict><key>file:/x</key>"));
  switcher->readConfig();
  EXPECT_EQ(switcher->profileForKey("file:/usr/games/game"), "Game");
  // A hand-edited key that is not normalised still matches.
  ASSERT_TRUE(writeSharedFile(switcher->configPath(),
                              "<plist><dict><key>file:///usr/games//game/</key>"
                              "<string>Chat</string></dict></plist>"));
  switcher->readConfig();
  focus("/usr/games/game");
  EXPECT_EQ(store->currentProfileName(), "Chat");
}

}  // namespace
}  // namespace zv::store::testing
