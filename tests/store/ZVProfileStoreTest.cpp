// The profile store on real folders: file names, the list, the current, start-up and
// no-profile states through the info file, new, renamed and deleted profiles, the info
// file replaced, damaged, half-written or not a regular file, and renames made by
// someone else.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "StoreTestSupport.h"
#include "platform/AtomicFile.h"
#include "support/PropertyList.h"

namespace zv::store::testing {
namespace {

using Names = std::vector<std::string>;

std::shared_ptr<device::DeviceController> deviceWith(const std::string& name, bool withType) {
  auto description = json::makeDictionary();
  description->set("Name", json::Value(name));
  description->set("Alias", json::Value("M"));
  description->set("VendorID", json::Value(17));
  description->set("ProductID", json::Value(300));
  if (withType) description->set("TypeID", json::Value(2));
  return std::make_shared<device::DeviceController>(description, "/nonexistent.bundle");
}

TEST_F(StoreTest, NamesTheInfoFileAfterTheDevice) {
  EXPECT_EQ(ZVProfileStore::infoFileNameForDevice(*deviceWith("Mouse", true)),
            ".profileStore-Mouse-17-300-2.info");
  EXPECT_EQ(ZVProfileStore::infoFileNameForDevice(*deviceWith("Mouse", false)),
            ".profileStore-Mouse-300.info");
  EXPECT_EQ(ZVProfileStore::infoFileNameForDevice(*deviceWith("A/B", false)),
            ".profileStore-A_B-300.info")
      << "a name never reaches outside the folder";
  EXPECT_EQ(folder(), tree.path("home/.local/share/Kinetra/DemoMouse"));
}

TEST_F(StoreTest, StartsAFolderAndAnInfoFileAndListsTheDefaultProfileFirst) {
  EXPECT_FALSE(ZVProfileStore::profileStoreExistsForDevice(*device));
  addProfile("b");
  addProfile("a");
  addProfile("sub/deep");
  addProfile("other", "OtherMouse");
  std::ofstream(folder() / "notes.txt") << "not a profile";
  std::ofstream(folder() / "x.pr0.AbC123") << "a temporary file of an interrupted save";
  open();
  EXPECT_TRUE(ZVProfileStore::profileStoreExistsForDevice(*device));
  EXPECT_EQ(store->profileNames(), (Names{"Default", "a", "b", "sub/deep"}));
  EXPECT_EQ(store->currentProfileName(), "Default");
  EXPECT_EQ(store->currentProfilePath(), store->defaultProfilePath());
  ASSERT_TRUE(store->currentProfile());
  EXPECT_TRUE(store->currentProfile()->loaded());
}

TEST_F(StoreTest, CreatesUntitledProfilesWithTheSmallestFreeNumber) {
  addProfile("Untitled1");
  addProfile("Untitled2");
  open();
  std::string error;
  const auto profile = store->createUntitledProfile(&error);
  ASSERT_TRUE(profile) << error;
  EXPECT_EQ(profile->path(), folder() / "Untitled3.pr0");
  EXPECT_EQ(profile->string("profile"), "Untitled3");
  const auto reloaded = store->profileWithName("Untitled3");
  EXPECT_TRUE(reloaded->loaded());
  EXPECT_EQ(reloaded->string("profile"), "Untitled3");
}

TEST_F(StoreTest, GivesUpOnUntitledNamesAfterTenThousandAndSaysSo) {
  open();
  for (int n = 1; n <= ZVProfileStore::kUntitledLimit; ++n) {
    std::ofstream(folder() / ("Untitled" + std::to_string(n) + ".pr0"));
  }
  std::string error;
  EXPECT_FALSE(store->createUntitledProfile(&error));
  EXPECT_NE(error.find("Untitled1 to Untitled10000 are all taken"), std::string::npos) << error;
}

TEST_F(StoreTest, NoProfileRoundTripsThroughTheInfoFile) {
  addProfile("a");
  open();
  store->setCurrentProfileByName("a");
  EXPECT_EQ(store->currentProfileName(), "a");
  store->setCurrentProfileByName("");
  EXPECT_TRUE(info()->find("settings")->asDictionary()->find("NoProfile")->asBoolean());
  store->readInfo();
  EXPECT_TRUE(store->noProfile());
  EXPECT_FALSE(store->currentProfile());
  store->readInfo();
  EXPECT_FALSE(store->currentProfile()) << "no profile is loaded while the state is on";
  store->setCurrentProfileByName("a");
  EXPECT_FALSE(store->noProfile());
  ASSERT_TRUE(store->currentProfile());
  EXPECT_EQ(store->currentProfile()->path(), folder() / "a.pr0");
}

TEST_F(StoreTest, RecordsTheStartupProfileAndNoneAsEmptyText) {
  addProfile("a");
  open();
  EXPECT_EQ(infoText("startupProfile"), "<absent>");
  store->setStartupProfileByName("a");
  EXPECT_EQ(infoText("startupProfile"), (folder() / "a.pr0").string());
  EXPECT_EQ(store->startupProfileName(), "a");
  store->setStartupProfileByName("");
  EXPECT_EQ(infoText("startupProfile"), "");
  EXPECT_EQ(store->startupProfileName(), "");
}

TEST_F(StoreTest, TheExecutiveTakesTheStartupProfileOthersTheRecordedOne) {
  addProfile("a");
  addProfile("b");
  open();
  store->setStartupProfileByName("a");
  store->setCurrentProfileByName("b");
  store.reset();

  open();
  EXPECT_EQ(store->currentProfileName(), "b") << "the editor keeps what is current";
  store.reset();

  device::DeviceController::setIsExecutive(true);
  open();
  EXPECT_EQ(store->currentProfileName(), "a") << "the agent starts with the start-up profile";
  EXPECT_EQ(infoText("currentProfile"), (folder() / "a.pr0").string()) << "and records it";
}

TEST_F(StoreTest, RenamingTheCurrentProfileKeepsItCurrent) {
  addProfile("a");
  addProfile("b");
  open();
  store->setCurrentProfileByName("a");
  std::string error;
  ASSERT_TRUE(store->renameProfile("a", "c", &error)) << error;
  EXPECT_EQ(store->currentProfileName(), "c");
  EXPECT_EQ(infoText("currentProfile"), (folder() / "c.pr0").string());
  EXPECT_FALSE(fs::exists(folder() / "a.pr0"));
  store->readDirectory();
  EXPECT_EQ(store->profileNames(), (Names{"Default", "b", "c"}));
}

TEST_F(StoreTest, RefusesToLoseAProfileOrTheDefaultOne) {
  addProfile("a");
  addProfile("b");
  open();
  std::string error;
  EXPECT_FALSE(store->renameProfile("a", "b", &error));
  EXPECT_NE(error.find("exists already"), std::string::npos) << error;
  EXPECT_TRUE(fs::exists(folder() / "a.pr0"));
  EXPECT_TRUE(store->profileWithName("b")->loaded());
  EXPECT_FALSE(store->renameProfile("a", "../escape", &error));
  EXPECT_FALSE(store->renameProfile("Default", "x", &error));
  EXPECT_FALSE(store->deleteProfileWithName("Default", &error));
  EXPECT_TRUE(fs::exists(store->defaultProfilePath()));
  EXPECT_FALSE(store->deleteProfileWithName("missing", &error));
  EXPECT_TRUE(store->deleteProfileWithName("a", &error)) << error;
  EXPECT_FALSE(fs::exists(folder() / "a.pr0"));
}

TEST_F(StoreTest, FollowsAProfileRenamedBySomeoneElseWithoutLosingOrDoublingIt) {
  addProfile("a");
  addProfile("b");
  open();
  store->setCurrentProfileByName("a");
  const auto current = store->currentProfile();
  const int updates = listener->updates;
  // A file manager renames it: no info file is written, only the folder changes.
  ASSERT_EQ(::rename((folder() / "a.pr0").c_str(), (folder() / "renamed.pr0").c_str()), 0);
  ASSERT_TRUE(waitFor([&] {
    const auto names = store->profileNames();
    return std::find(names.begin(), names.end(), "renamed") != names.end();
  }));
  EXPECT_EQ(store->profileNames(), (Names{"Default", "b", "renamed"}));
  EXPECT_EQ(store->currentProfileName(), "renamed");
  EXPECT_EQ(store->currentProfile(), current) << "the same profile, followed";
  EXPECT_EQ(current->path(), folder() / "renamed.pr0");
  EXPECT_EQ(current->string("profile"), "renamed");
  EXPECT_EQ(infoText("currentProfile"), (folder() / "renamed.pr0").string());
  EXPECT_GT(listener->updates, updates);
}

TEST_F(StoreTest, ReadsAnotherProcesssWriteAndFollowsAReplacedInfoFile) {
  addProfile("a");
  addProfile("b");
  open();
  const auto other = info();
  other->set("currentProfile", json::Value((folder() / "a.pr0").string()));
  // Replaced, as an atomic save would: the store must watch the new file.
  ASSERT_TRUE(
      platform::writeFileAtomically(infoFile(), support::writePropertyListXML(json::Value(other))));
  ASSERT_TRUE(waitFor([&] { return store->currentProfileName() == "a"; }));
  other->set("currentProfile", json::Value((folder() / "b.pr0").string()));
  ASSERT_TRUE(writeSharedFile(infoFile(), support::writePropertyListXML(json::Value(other))));
  ASSERT_TRUE(waitFor([&] { return store->currentProfileName() == "b"; }))
      << "a write in place into the new file is seen too";
}

TEST_F(StoreTest, ReportsADeletedInfoFileAndRecreatesItAtTheNextWrite) {
  open();
  ASSERT_EQ(::unlink(infoFile().c_str()), 0);
  ASSERT_TRUE(waitFor([&] { return listener->deletions == 1; }));
  EXPECT_FALSE(store->exists());
  addProfile("a");
  store->setCurrentProfileByName("a");
  EXPECT_TRUE(store->exists());
  EXPECT_EQ(infoText("currentProfile"), (folder() / "a.pr0").string());
  auto other = info();
  other->set("currentProfile", json::Value(store->defaultProfilePath().string()));
  ASSERT_TRUE(writeSharedFile(infoFile(), support::writePropertyListXML(json::Value(other))));
  ASSERT_TRUE(waitFor([&] { return store->currentProfileName() == "Default"; }))
      << "the recreated file is watched";
}

TEST_F(StoreTest, LooksTwiceAtAHalfWrittenInfoFileAndNeverActsOnHalfOfIt) {
  addProfile("a");
  open();
  auto whole = info();
  whole->set("currentProfile", json::Value((folder() / "a.pr0").string()));
  const std::string xml = support::writePropertyListXML(json::Value(whole));
  // The first look finds the writer half-way; by the second it has finished.
  int pauses = 0;
  store->setRetryPause([&](std::chrono::milliseconds) {
    ++pauses;
    ASSERT_TRUE(writeSharedFile(infoFile(), xml));
  });
  ASSERT_TRUE(writeSharedFile(infoFile(), xml.substr(0, xml.size() / 2)));
  store->readInfo();
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(store->currentProfileName(), "a");
}

TEST_F(StoreTest, ADamagedInfoFileChangesNothingThatRuns) {
  addProfile("a");
  open();
  store->setCurrentProfileByName("a");
  store->setRetryPause({});
  ASSERT_TRUE(writeSharedFile(infoFile(), "\x01\x02 not a property list"));
  store->readInfo();
  EXPECT_EQ(store->currentProfileName(), "a") << "a damaged file is not an empty one";
  EXPECT_FALSE(store->infoDamage().empty());
}

// A profile that does not load is refused with the loader's message; what ran goes on.
TEST_F(StoreTest, AnUnloadableProfileNeverBecomesCurrent) {
  addProfile("a");
  ASSERT_TRUE(writeSharedFile(folder() / "Empty.pr0", ""));
  open();
  ASSERT_TRUE(store->setCurrentProfileByName("a"));
  std::string error;
  EXPECT_FALSE(store->setCurrentProfileByName("Empty", &error));
  EXPECT_NE(error.find("Empty.pr0: not a readable profile"), std::string::npos) << error;
  EXPECT_EQ(store->currentProfileName(), "a");
  EXPECT_TRUE(store->currentProfile()->loaded());
  EXPECT_EQ(infoText("currentProfile"), (folder() / "a.pr0").string());

  // Another process records it anyway: this one keeps running "a".
  auto other = info();
  other->set("currentProfile", json::Value((folder() / "Empty.pr0").string()));
  ASSERT_TRUE(writeSharedFile(infoFile(), support::writePropertyListXML(json::Value(other))));
  store->readInfo();
  EXPECT_EQ(store->currentProfileName(), "a");
  EXPECT_TRUE(store->currentProfile()->loaded());
}

TEST_F(StoreTest, KeepsWhatItDoesNotKnowAndWritesThroughLinks) {
  open();
  auto other = info();
  other->set("FutureKey", json::Value("kept"));
  auto settings = json::makeDictionary();
  settings->set("DPI", json::Value(1600));
  other->set("settings", json::Value(settings));
  // The info file is a link to a file elsewhere (a synced dotfile, say).
  const fs::path target = tree.path("elsewhere/info.plist");
  fs::create_directories(target.parent_path());
  ASSERT_TRUE(
      platform::writeFileAtomically(target, support::writePropertyListXML(json::Value(other))));
  fs::remove(infoFile());
  fs::create_symlink(target, infoFile());
  store->readInfo();
  store->setStartupProfileByName("");
  EXPECT_TRUE(fs::is_symlink(infoFile()));
  const auto written = readSharedDictionary(target, {});
  ASSERT_TRUE(written.dictionary);
  EXPECT_EQ(written.dictionary->find("FutureKey")->asString(), "kept");
  EXPECT_EQ(written.dictionary->find("settings")->asDictionary()->find("DPI")->asNumber(), 1600);
  EXPECT_EQ(written.dictionary->find("startupProfile")->asString(), "");
}

TEST_F(StoreTest, LeavesAnInfoPathThatIsNoRegularFileAlone) {
  fs::create_directories(folder());
  ASSERT_EQ(::mkfifo(infoFile().c_str(), 0644), 0);
  open();  // neither reading nor writing may wait on the FIFO
  std::string error;
  EXPECT_FALSE(store->writeInfo(&error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  struct stat st {};
  ASSERT_EQ(::stat(infoFile().c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(StoreTest, NoticesNewAndVanishedProfiles) {
  addProfile("a");
  open();
  const int updates = listener->updates;
  addProfile("z");
  ASSERT_TRUE(waitFor([&] { return store->profileNames().size() == 3; }));
  fs::remove(folder() / "a.pr0");
  ASSERT_TRUE(waitFor([&] { return store->profileNames() == Names{"Default", "z"}; }));
  EXPECT_GE(listener->updates, updates + 2);
}

}  // namespace
}  // namespace zv::store::testing
