// The command store: the shipped command files as one text, the favourites left out at
// the top only, the common folder, one object per process.
#include "store/ZVCommandStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testing/EngineHarness.h"
#include "testing/TemporaryTree.h"

namespace zv::store {
namespace {

namespace fs = std::filesystem;

class CommandStoreTest : public ::testing::Test {
 protected:
  CommandStoreTest() { ZVCommandStore::forgetProcessInstanceForTesting(); }
  ~CommandStoreTest() override { ZVCommandStore::forgetProcessInstanceForTesting(); }
  zv::testing::TemporaryTree tree;
};

TEST_F(CommandStoreTest, ConcatenatesTheShippedCommandFiles) {
  tree.write("bundles/A.bundle/Contents/Resources/commands.xml", "<a/>");
  tree.write("bundles/Favourites.xml", "<not-shipped/>");
  tree.write("bundles/A.bundle/Favourites.xml", "<shipped/>");
  tree.write("bundles/A.bundle/notes.txt", "<no/>");
  tree.write("bundles/A.bundle/latin1.xml", "<caf\xe9/>");
  ::mkfifo(tree.path("bundles/pipe.xml").c_str(), 0644);
  const auto store = ZVCommandStore::create(tree.path("bundles"));
  ASSERT_TRUE(store);
  const std::string xml = store->commandXML();
  EXPECT_NE(xml.find("<a/>"), std::string::npos);
  EXPECT_NE(xml.find("<shipped/>"), std::string::npos);
  EXPECT_EQ(xml.find("<not-shipped/>"), std::string::npos);
  EXPECT_EQ(xml.find("<no/>"), std::string::npos);
  EXPECT_EQ(xml.size(), std::string("<a/><shipped/>").size()) << "no separator, nothing else";
  EXPECT_TRUE(fs::is_directory(tree.path("home/.local/share/Kinetra/Common")));
  EXPECT_EQ(store->favouritesPath(), tree.path("home/.local/share/Kinetra/Common/Favourites.xml"));
  EXPECT_FALSE(ZVCommandStore::create(tree.path("bundles"))) << "one per process";
  EXPECT_EQ(ZVCommandStore::sharedCommandStore(), store);
}

TEST_F(CommandStoreTest, FollowsLinkedBundlesOnceAndNeverRoundALoop) {
  tree.write("elsewhere/A.bundle/Contents/Resources/commands.xml", "<a/>");
  fs::create_directories(tree.path("bundles"));
  fs::create_directory_symlink(tree.path("elsewhere/A.bundle"), tree.path("bundles/A.bundle"));
  fs::create_directory_symlink(tree.path("elsewhere/A.bundle"), tree.path("bundles/Again.bundle"));
  fs::create_directory_symlink(tree.path("bundles"), tree.path("elsewhere/A.bundle/Contents/up"));
  const auto store = ZVCommandStore::create(tree.path("bundles"));
  EXPECT_EQ(store->commandXML(), "<a/>");
}

TEST_F(CommandStoreTest, FollowsALinkToAFolderWhoseNameBeginsLikeItsOwn) {
  // "b" is a prefix of "bundles" as text, not as a folder: the link is no loop.
  tree.write("b/B.bundle/commands.xml", "<b/>");
  fs::create_directories(tree.path("bundles"));
  fs::create_directory_symlink(tree.path("b"), tree.path("bundles/linked"));
  EXPECT_EQ(ZVCommandStore::create(tree.path("bundles"))->commandXML(), "<b/>");
}

TEST_F(CommandStoreTest, IsEmptyWithoutCommandFiles) {
  EXPECT_EQ(ZVCommandStore::create(tree.path("nothing"))->commandXML(), "");
}

TEST_F(CommandStoreTest, TheDemoBundleShipsACommandLibrary) {
  const auto store = ZVCommandStore::create(zv::testing::demoBundlePath().parent_path());
  const std::string xml = store->commandXML();
  for (const char* name : {"Copy", "Paste", "Undo", "Play or pause", "Volume up", "time=\"40\""}) {
    EXPECT_NE(xml.find(name), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace zv::store
