#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "FakeWindowHost.h"
#include "ZVEditorWindow.h"
#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "device/ProfileStoreFactory.h"
#include "engine/ZVProfile.h"
#include "log/Log.h"
#include "output/RecordingOutput.h"
#include "output/ZVKeyboard.h"
#include "platform/RunLoop.h"
#include "store/ProfileFilesStoreFactory.h"
#include "store/ZVProfileStore.h"
#include "testing/EngineHarness.h"
#include "testing/FakeFrontmostApplication.h"
#include "testing/FakeInputDevices.h"
#include "testing/TemporaryTree.h"

namespace zv::editor {
namespace {

class FakePlatform : public EditorPlatform {
 public:
  std::vector<std::string> chooseApplications(const std::string&) override { return apps; }
  std::optional<std::string> chooseImage(const std::string&,
                                         const std::vector<std::string>&) override {
    return image;
  }
  std::optional<std::string> chooseFile(const std::string&) override { return file; }
  void openURL(const std::string& url) override { opened.push_back(url); }
  void openMouseSettings() override { opened.push_back("mouse settings"); }
  std::vector<std::string> preferredLanguages() override { return languages; }
  std::string nativeLanguageName(const std::string& locale) override { return locale; }
  std::optional<Rect> savedFrame(const std::string&) override { return std::nullopt; }
  void saveFrame(const std::string&, const Rect&) override {}

  std::vector<std::string> apps;
  std::optional<std::string> image;
  std::optional<std::string> file;
  std::vector<std::string> opened;
  std::vector<std::string> languages{"en-GB"};
};

class EditorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log::setSystemLogHandler([](std::string_view) {});
    engine::ZVProfile::setSharedPrototype(zv::testing::bundledPrototype());
    device::setProfileStoreFactory(std::make_shared<store::ProfileFilesStoreFactory>());
    const support::Bundle bundle(zv::testing::demoBundlePath());
    device_ = std::make_shared<device::DeviceController>(device::deviceDescriptions(bundle).front(),
                                                         bundle.bundlePath());
    auto source = std::make_shared<zv::testing::FakeInputDeviceSource>();
    EditorWindowOptions options;
    options.keyboard = std::make_shared<output::ZVKeyboard>(
        std::make_shared<output::RecordingOutput>(),
        output::TapServices{source, std::make_shared<zv::testing::FakeFdWatcher>()});
    options.setExclusive = [this](bool on) { exclusive_.push_back(on); };
    options.ownPageFolder = tree_.root() / "own-page";
    window_ = ZVEditorWindow::create(host_, platform_, device_, options);
  }

  void TearDown() override {
    window_.reset();
    device_.reset();
    device::setProfileStoreFactory(nullptr);
    engine::ZVProfile::setSharedPrototype(nullptr);
    log::setSystemLogHandler({});
  }

  static void dispatch() { platform::RunLoop::main().dispatchPending(); }
  // The store lists the folder when its watch reports a change; tests read it at once.
  void rescan() { window_->profileStore()->readDirectory(); }
  std::string editedName() const { return window_->profile()->string("profile"); }
  std::size_t count(const std::string& script) const {
    return static_cast<std::size_t>(std::count(host_.scripts.begin(), host_.scripts.end(), script));
  }

  zv::testing::TemporaryTree tree_;
  testing::FakeWindowHost host_;
  FakePlatform platform_;
  std::shared_ptr<device::DeviceController> device_;
  std::shared_ptr<ZVEditorWindow> window_;
  std::vector<bool> exclusive_;
};

TEST_F(EditorWindowTest, PageLoadSendsUpdateThenProfileRenamedAndShowsTheWindowAfterThem) {
  EXPECT_EQ(editedName(), "Default");
  EXPECT_FALSE(host_.visible);
  host_.available = {0, 30, 1000, 970};  // a 1000-pixel screen with a top panel
  window_->pageLoaded(true, {});
  EXPECT_EQ(host_.scripts,
            (std::vector<std::string>{"$(document).trigger('editor:update')",
                                      "$(document).trigger('editor:profileRenamed')"}));
  EXPECT_FALSE(host_.visible);
  dispatch();
  EXPECT_TRUE(host_.visible);
  // Shown wholly on the screen.
  const Rect frame = host_.frame();
  EXPECT_GE(frame.x, 0);
  EXPECT_GE(frame.y, 30);
  EXPECT_LE(frame.x + frame.width, 1000);
  EXPECT_LE(frame.y + frame.height, 1000);
  // A failed load sends nothing.
  host_.scripts.clear();
  window_->pageLoaded(false, "net::ERR_FILE_NOT_FOUND");
  dispatch();
  EXPECT_TRUE(host_.scripts.empty());
}

TEST_F(EditorWindowTest, ABundleWithoutAnInterfaceGetsTheEditorsOwnPageAndItsLayout) {
  ASSERT_FALSE(host_.loaded.empty());
  EXPECT_EQ(host_.loaded.front(), tree_.root() / "own-page" / kOwnPageFile);
  const auto layout = window_->deviceLayoutJSON();
  ASSERT_TRUE(layout);
  EXPECT_NE(layout->find("\"controls\""), std::string::npos);
}

TEST_F(EditorWindowTest, EmptyActionCallbackLeavesTestModeEvenWhenNeverEntered) {
  window_->setDeviceActionCallback("");
  EXPECT_EQ(exclusive_, std::vector<bool>{false});
  EXPECT_FALSE(window_->testMode());
  EXPECT_FALSE(window_->profile()->useDelegateForActions());

  window_->setDeviceActionCallback("onAction");
  EXPECT_EQ(exclusive_, (std::vector<bool>{false, true}));
  EXPECT_TRUE(window_->profile()->useDelegateForActions());
}

TEST_F(EditorWindowTest, ActionsReachThePageWithTheirTextAsFifthArgument) {
  window_->setDeviceActionCallback("onAction");
  window_->onProfileActionWithPage(7, 0x4E, 1, "");
  window_->onProfileActionWithPage(0xFF00, 2, 0, "/home/me/it's\nmine.txt");
  EXPECT_TRUE(host_.scripts.empty());  // queued to the main loop
  dispatch();
  EXPECT_EQ(host_.scripts, (std::vector<std::string>{
                               "onAction('action', 7,78,1,'')",
                               "onAction('action', 65280,2,0,'/home/me/it\\'s\\nmine.txt')"}));
  // An action queued while test mode ends is dropped.
  window_->onProfileActionWithPage(7, 0x4E, 0, "");
  window_->setDeviceActionCallback("");
  dispatch();
  EXPECT_EQ(host_.scripts.size(), 2u);
}

// The device's events take the agent's road to the profile being edited, and only in
// test mode: outside it they change nothing, inside it the actions reach the page.
TEST_F(EditorWindowTest, TheDevicesElementEventsReachTheEditedProfileOnlyInTestMode) {
  device_->onElementEvent(0x90004, 1, 0);  // Page Down while held
  device_->onElementEvent(0x90004, 0, 0);
  window_->setDeviceActionCallback("onAction");
  device_->onElementEvent(0x90004, 1, 0);
  device_->onElementEvent(0x90004, 0, 0);
  const std::string press = "onAction('action', 7,78,1,'')";
  const std::string release = "onAction('action', 7,78,0,'')";
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return count(release) == 1; },
                                                 std::chrono::seconds(10)));
  EXPECT_EQ(count(press), 1u) << "the press before test mode reached the page";
}

TEST_F(EditorWindowTest, TestModeGoesOnWithEveryProfileEditedNext) {
  window_->setDeviceActionCallback("onAction");
  const auto first = window_->profile();
  window_->newProfile();
  const auto created = window_->profile();
  ASSERT_NE(created, first);
  EXPECT_FALSE(first->useDelegateForActions());
  EXPECT_TRUE(created->useDelegateForActions());
  EXPECT_EQ(created->delegate().get(), window_.get());

  rescan();
  window_->setProfileByName("Default");
  EXPECT_FALSE(created->useDelegateForActions());
  EXPECT_TRUE(window_->profile()->useDelegateForActions());

  window_->newProfile();
  rescan();
  window_->deleteProfile("Untitled2");
  EXPECT_EQ(editedName(), "Untitled1");
  EXPECT_TRUE(window_->profile()->useDelegateForActions());

  // A reset reloads the profile without its delegate; the window takes it back.
  window_->resetProfile();
  EXPECT_EQ(window_->profile()->delegate().get(), window_.get());
  EXPECT_TRUE(window_->profile()->useDelegateForActions());

  window_->setDeviceActionCallback("");
  EXPECT_FALSE(window_->profile()->useDelegateForActions());
  // Outside test mode a new profile stays out of it.
  window_->newProfile();
  EXPECT_FALSE(window_->profile()->useDelegateForActions());
}

TEST_F(EditorWindowTest, TheDefaultProfileIsNeverWritten) {
  ASSERT_EQ(editedName(), "Default");
  const auto path = *window_->profile()->path();
  std::ifstream in(path, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(window_->save());
  EXPECT_FALSE(window_->setProfileJSON(window_->profileJSON()));
  std::ifstream again(path, std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(again)),
                          std::istreambuf_iterator<char>());
  EXPECT_EQ(after, before);
}

TEST_F(EditorWindowTest, ProfileJSONThatWouldNotReadBackLeavesProfileAndFile) {
  window_->newProfile();
  ASSERT_TRUE(window_->save());
  const std::string before = window_->profileJSON();
  const auto path = *window_->profile()->path();
  const auto fileBefore = tree_.read(path.lexically_relative(tree_.root()).string());
  std::string broken = before;
  const auto at = broken.find("\"Left button\"");
  ASSERT_NE(at, std::string::npos);
  broken.replace(at, 13, "\"Left [button]\"");
  EXPECT_FALSE(window_->setProfileJSON(broken));
  EXPECT_EQ(window_->profileJSON(), before);
  EXPECT_EQ(tree_.read(path.lexically_relative(tree_.root()).string()), fileBefore);
  EXPECT_TRUE(window_->setProfileJSON(before));
}

TEST_F(EditorWindowTest, StartupAndActiveProfilesAreEmptyInTheNoProfileState) {
  window_->setStartupProfile("Default");
  window_->setActiveProfile("Default");
  EXPECT_EQ(window_->startupProfile(), "Default");
  EXPECT_EQ(window_->activeProfile(), "Default");
  // "None" in the page; the store still remembers the last profile's name.
  window_->setActiveProfile("");
  EXPECT_EQ(window_->activeProfile(), "");
  window_->setActiveProfile("Default");
  // "Clear" in the tray, seen through the store.
  window_->profileStore()->setNoProfile(true);
  EXPECT_EQ(window_->startupProfile(), "");
  EXPECT_EQ(window_->activeProfile(), "");
}

TEST_F(EditorWindowTest, LinksAreKeyedByTheResolvedProgramAndSurviveARefusedDelete) {
  const auto program = tree_.write("programs/real-browser", "#!/bin/sh\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  const auto alias = program.parent_path() / "browser";
  std::filesystem::create_symlink(program, alias);
  window_->newProfile();
  rescan();
  platform_.apps = {alias.string()};
  window_->openAppLinkDialogForProfile("Untitled1");
  const std::vector<std::string> linked{"file:" + std::filesystem::canonical(program).string()};
  EXPECT_EQ(window_->appsLinkedToProfile("Untitled1"), linked);

  // The store cannot delete the profile (a folder stands where its file was): the profile
  // keeps its links and stays the edited one.
  const auto path = *window_->profile()->path();
  std::filesystem::remove(path);
  std::filesystem::create_directories(path / "inside");
  window_->deleteProfile("Untitled1");
  EXPECT_EQ(window_->appsLinkedToProfile("Untitled1"), linked);
  EXPECT_EQ(editedName(), "Untitled1");
}

TEST_F(EditorWindowTest, RenamingTheEditedProfileKeepsEditingItRenamingAnotherDoesNot) {
  window_->newProfile();
  rescan();
  EXPECT_EQ(editedName(), "Untitled1");
  window_->renameProfile("Untitled1", "Mine");
  rescan();
  EXPECT_EQ(editedName(), "Mine");
  EXPECT_EQ(window_->profile()->path()->filename(), "Mine.pr0");

  window_->newProfile();
  rescan();
  const auto editedPath = window_->profile()->path();
  window_->renameProfile("Mine", "Other");
  rescan();
  EXPECT_EQ(window_->profile()->path(), editedPath);
  EXPECT_EQ(editedName(), "Untitled1");
  const auto names = window_->profileList();
  EXPECT_NE(std::find(names.begin(), names.end(), "Other"), names.end());
  // A refused rename (the name is taken) leaves the edited profile as it was.
  window_->renameProfile("Untitled1", "Other");
  EXPECT_EQ(window_->profile()->path(), editedPath);
}

TEST_F(EditorWindowTest, DeleteEditsThePreviousProfileAndRefusesTheFirstAndUnknownNames) {
  window_->newProfile();
  window_->newProfile();  // Untitled2, edited
  rescan();
  host_.scripts.clear();
  window_->deleteProfile("Default");
  window_->deleteProfile("No such profile");
  EXPECT_TRUE(host_.scripts.empty());
  EXPECT_EQ(window_->profileList().size(), 3u);

  window_->deleteProfile("Untitled2");
  rescan();
  EXPECT_EQ(window_->profileList(), (std::vector<std::string>{"Default", "Untitled1"}));
  EXPECT_EQ(editedName(), "Untitled1");
  EXPECT_EQ(count("$(document).trigger('editor:update')"), 1u);

  host_.scripts.clear();
  window_->setProfileByName("No such profile");
  EXPECT_TRUE(host_.scripts.empty());
  EXPECT_EQ(editedName(), "Untitled1");
}

TEST_F(EditorWindowTest, FavouritesRoundTripThroughLinksAndNeverReplaceAFolder) {
  EXPECT_FALSE(window_->favouriteCommandJSON());
  window_->setFavouriteCommandJSON("<favourites>ü</favourites>");
  EXPECT_EQ(window_->favouriteCommandJSON(), "<favourites>ü</favourites>");

  const auto path = window_->favouritesPath();
  const auto target = tree_.write("elsewhere/Favourites.xml", "old");
  std::filesystem::remove(path);
  std::filesystem::create_symlink(target, path);
  window_->setFavouriteCommandJSON("through the link");
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(tree_.read("elsewhere/Favourites.xml"), "through the link");

  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  window_->setFavouriteCommandJSON("refused");
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_FALSE(window_->favouriteCommandJSON());
}

TEST_F(EditorWindowTest, ProfileJSONThatDoesNotParseChangesNothing) {
  window_->newProfile();
  const std::string before = window_->profileJSON();
  window_->setProfileJSON("{ not json");
  EXPECT_EQ(window_->profileJSON(), before);
}

TEST_F(EditorWindowTest, ChoosersAndLocale) {
  platform_.image = "file:///home/me/My%20Pictures/a.png";
  EXPECT_EQ(window_->browseForImagePath(), "/home/me/My%20Pictures/a.png");
  platform_.image.reset();
  EXPECT_EQ(window_->browseForImagePath(), "");
  const auto shell = std::filesystem::canonical("/bin/sh").string();
  platform_.apps = {shell};
  window_->openAppLinkDialogForProfile("Default");
  EXPECT_EQ(window_->appsLinkedToProfile("Default"), std::vector<std::string>{"file:" + shell});
  window_->unlinkApp(shell, "Default");
  EXPECT_TRUE(window_->appsLinkedToProfile("Default").empty());
  platform_.languages = {"zh-Hant"};
  EXPECT_EQ(window_->currentLocale(), "zh-CHT");
  platform_.languages = {};
  EXPECT_EQ(window_->currentLocale(), "en");
  EXPECT_FALSE(ZVEditorWindow::appNameAtPath("/no/such/program"));
  EXPECT_FALSE(ZVEditorWindow::appNameAtPath("relative"));
  EXPECT_TRUE(ZVEditorWindow::appNameAtPath("file:/bin/sh"));
}

TEST_F(EditorWindowTest, FocusStatusSaysWhetherLinksToApplicationsFire) {
  const auto statusWith = [this](std::shared_ptr<platform::FrontmostApplication> provider,
                                 const std::string& unavailable) {
    EditorWindowOptions options;
    options.frontmost = std::move(provider);
    options.frontmostUnavailable = unavailable;
    return ZVEditorWindow::create(host_, platform_, device_, options)->focusStatus();
  };
  const auto none = statusWith(nullptr, "this compositor does not tell");
  EXPECT_FALSE(none.canLink);
  EXPECT_FALSE(none.linksWork);
  EXPECT_EQ(none.reason, "this compositor does not tell");

  auto provider = std::make_shared<zv::testing::FakeFrontmostApplication>();
  provider->waiting = "enable the extension";
  const auto waiting = statusWith(provider, "");
  EXPECT_TRUE(waiting.canLink);
  EXPECT_FALSE(waiting.linksWork);
  EXPECT_EQ(waiting.provider, "fake");
  EXPECT_EQ(waiting.reason, "enable the extension");

  provider->waiting.clear();
  const auto working = statusWith(provider, "");
  EXPECT_TRUE(working.linksWork);
  EXPECT_EQ(working.reason, "");
}

}  // namespace
}  // namespace zv::editor
