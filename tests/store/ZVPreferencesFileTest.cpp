#include "store/ZVPreferencesFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "WatchTestSupport.h"
#include "json/CJSONSerializer.h"
#include "platform/AtomicFile.h"
#include "support/NotificationCenter.h"
#include "support/PropertyList.h"
#include "testing/LogCapture.h"
#include "testing/TemporaryTree.h"

using namespace zv::store;
using namespace zv::platform;
using namespace zv::platform::testing;
using zv::json::Value;
using zv::support::NotificationCenter;

namespace {

std::string toJson(const Value& value) {
  return zv::json::CJSONSerializer::serializer().serializeObject(value).valueOr("(not writable)");
}

Value dictionary(std::initializer_list<std::pair<const char*, Value>> entries) {
  auto d = zv::json::makeDictionary();
  for (const auto& [key, value] : entries) d->set(key, value);
  return Value(d);
}

class ZVPreferencesFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZVPreferencesFile::forgetProcessInstanceForTesting();
    observer_ = NotificationCenter::defaultCenter().addObserver(
        "ZVPreferencesUpdated", [this](const zv::support::Notification& n) {
          senders.push_back(n.sender);
          contents.push_back(n.userInfo.isNull() ? "null" : toJson(n.userInfo));
        });
  }
  void TearDown() override {
    NotificationCenter::defaultCenter().removeObserver(observer_);
    ZVPreferencesFile::forgetProcessInstanceForTesting();
  }

  std::filesystem::path fileFor(const std::string& brand) const {
    return tree.path("home/.config/com.zenvor.Kinetra." + brand + ".plist");
  }
  std::string onDisk(const std::string& brand) const {
    return tree.read("home/.config/com.zenvor.Kinetra." + brand + ".plist");
  }

  zv::testing::TemporaryTree tree;
  std::vector<const void*> senders;
  std::vector<std::string> contents;  // the user information of each notification, as JSON

 private:
  NotificationCenter::ObserverId observer_ = 0;
};

}  // namespace

TEST_F(ZVPreferencesFileTest, FirstRunCreatesAnEmptyDictionaryAndOneObjectServesTheProcess) {
  Sentinel sentinel(tree.path("sentinel"));
  ASSERT_FALSE(std::filesystem::exists(tree.path("home/.config")));
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand("Zenvor");
  ASSERT_TRUE(prefs);
  EXPECT_EQ(prefs->filePath(), fileFor("Zenvor"));
  const auto stored = zv::support::readPropertyListFile(fileFor("Zenvor"));
  ASSERT_TRUE(stored) << "the file was not created";
  EXPECT_EQ(toJson(*stored), "{}");
  ASSERT_TRUE(prefs->prefs());
  EXPECT_TRUE(prefs->prefs()->empty());
  ASSERT_TRUE(sentinel.pass());
  EXPECT_EQ(contents, std::vector<std::string>{"{}"}) << "expected exactly one notification";
  EXPECT_EQ(senders, std::vector<const void*>{prefs.get()});

  // The same object for the same brand, by every route.
  EXPECT_EQ(ZVPreferencesFile::preferenceFileForBrand("Zenvor"), prefs);
  EXPECT_EQ(ZVPreferencesFile::sharedZVPreferencesFile(), prefs);
  // No second object in the process: not for another brand, not for the same one.
  EXPECT_EQ(ZVPreferencesFile::preferenceFileForBrand("Other"), nullptr);
  EXPECT_EQ(ZVPreferencesFile::preferenceFileForBrand("Other"), nullptr);
  EXPECT_EQ(ZVPreferencesFile::createForBrand("Zenvor"), nullptr);
  EXPECT_EQ(ZVPreferencesFile::create(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(fileFor("Other")));
  EXPECT_EQ(contents.size(), 1u);
}

TEST_F(ZVPreferencesFileTest, AnotherProcessesSaveIsReloadedButAWriteInPlaceIsNot) {
  Sentinel sentinel(tree.path("sentinel"));
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand("Zenvor");
  ASSERT_TRUE(prefs);
  ASSERT_EQ(contents.size(), 1u);

  // Another process saves: the file is replaced.
  ASSERT_TRUE(zv::support::writePropertyListFile(
      fileFor("Zenvor"), dictionary({{"HideStatusMenu", Value::boolean(true)}})));
  ASSERT_TRUE(waitFor([&] { return contents.size() == 2; })) << "the save was not noticed";
  EXPECT_EQ(contents[1], R"({"HideStatusMenu":true})");
  EXPECT_EQ(senders[1], prefs.get());
  EXPECT_EQ(toJson(Value(prefs->prefs())), R"({"HideStatusMenu":true})");

  // The new file is watched: the next save is noticed too.
  ASSERT_TRUE(zv::support::writePropertyListFile(
      fileFor("Zenvor"), dictionary({{"HideStatusMenu", Value::boolean(false)}})));
  ASSERT_TRUE(waitFor([&] { return contents.size() == 3; })) << "the second save was missed";
  EXPECT_EQ(contents[2], R"({"HideStatusMenu":false})");

  // A write in place is not acted on.
  {
    std::ofstream inPlace(fileFor("Zenvor"), std::ios::in | std::ios::out);
    inPlace << zv::support::writePropertyListXML(dictionary({{"Written", 1}}));
  }
  ASSERT_TRUE(sentinel.pass());
  EXPECT_EQ(contents.size(), 3u) << "a write in place was reloaded";
  EXPECT_EQ(toJson(Value(prefs->prefs())), R"({"HideStatusMenu":false})");

  // The object's own save replaces the file as well, and is announced the same way.
  prefs->prefs()->set("Volume", 7);
  std::string error;
  ASSERT_TRUE(prefs->save(&error)) << error;
  ASSERT_TRUE(waitFor([&] { return contents.size() == 4; }));
  EXPECT_EQ(contents[3], R"({"HideStatusMenu":false,"Volume":7})");

  // The file removed for good: nothing to reload, the last contents stay.
  std::filesystem::remove(fileFor("Zenvor"));
  ASSERT_TRUE(sentinel.pass());
  EXPECT_EQ(contents.size(), 4u);
  ASSERT_TRUE(prefs->prefs());
  EXPECT_EQ(prefs->prefs()->size(), 2u);
}

TEST_F(ZVPreferencesFileTest, ADamagedFileReadsAsNoDictionaryAndIsKeptUntilTheUserSaves) {
  const std::string damaged = "<?xml version=\"1.0\"?><plist><dict><key>HideStatus";
  tree.write("home/.config/com.zenvor.Kinetra.Zenvor.plist", damaged);
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand("Zenvor");
  ASSERT_TRUE(prefs) << "a damaged file must not stop the object from being made";
  EXPECT_EQ(prefs->prefs(), nullptr);
  EXPECT_FALSE(prefs->readError().empty());
  EXPECT_EQ(contents, std::vector<std::string>{"null"});
  std::string error;
  EXPECT_FALSE(prefs->save(&error));
  EXPECT_NE(error.find("nothing to save"), std::string::npos) << error;
  EXPECT_EQ(onDisk("Zenvor"), damaged) << "the damaged file was overwritten";

  // A good file saved by another process is read again.
  ASSERT_TRUE(zv::support::writePropertyListFile(fileFor("Zenvor"), dictionary({{"A", 1}})));
  ASSERT_TRUE(waitFor([&] { return contents.size() == 2; }));
  EXPECT_EQ(contents[1], R"({"A":1})");
  EXPECT_TRUE(prefs->readError().empty());

  // A property list that is not a dictionary gives no dictionary either.
  ASSERT_TRUE(zv::platform::writeFileAtomically(
      fileFor("Zenvor"), zv::support::writePropertyListXML(Value(zv::json::makeArray()))));
  ASSERT_TRUE(waitFor([&] { return contents.size() == 3; }));
  EXPECT_EQ(contents[2], "null");
  EXPECT_EQ(prefs->prefs(), nullptr);
}

// The file is the user's: another program's entries, and kinds the suite has no exact
// form for, come back from a save as they were. A dotfile manager's link stays a link.
TEST_F(ZVPreferencesFileTest, ASaveKeepsEveryOtherEntryExactlyAndWritesThroughALink) {
  const std::string foreign =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "\t<key>LastRun</key>\n\t<date>2024-02-03T04:05:06Z</date>\n"
      "\t<key>Serial</key>\n\t<integer>9007199254740993</integer>\n"
      "\t<key>Lowest</key>\n\t<integer>-9223372036854775808</integer>\n"
      "\t<key>Scale</key>\n\t<real>2</real>\n"
      "</dict>\n</plist>\n";
  const auto real = tree.write("home/dotfiles/prefs.plist", foreign);
  std::filesystem::create_directories(fileFor("Zenvor").parent_path());
  std::filesystem::create_symlink(real, fileFor("Zenvor"));

  const auto prefs = ZVPreferencesFile::preferenceFileForBrand("Zenvor");
  ASSERT_TRUE(prefs && prefs->prefs()) << (prefs ? prefs->readError() : "no object");
  prefs->prefs()->set("HideStatusMenu", Value::boolean(true));
  std::string error;
  ASSERT_TRUE(prefs->save(&error)) << error;

  EXPECT_TRUE(std::filesystem::is_symlink(fileFor("Zenvor")));
  const std::string saved = tree.read("home/dotfiles/prefs.plist");
  for (const char* kept :
       {"<key>LastRun</key>\n\t<date>2024-02-03T04:05:06Z</date>",
        "<key>Serial</key>\n\t<integer>9007199254740993</integer>",
        "<key>Lowest</key>\n\t<integer>-9223372036854775808</integer>",
        "<key>Scale</key>\n\t<real>2</real>", "<key>HideStatusMenu</key>\n\t<true/>"}) {
    EXPECT_NE(saved.find(kept), std::string::npos) << kept << "\nin\n" << saved;
  }
}

TEST_F(ZVPreferencesFileTest, AFifoInPlaceOfTheFileIsReportedWithoutWaitingForAWriter) {
  std::filesystem::create_directories(fileFor("Zenvor").parent_path());
  ASSERT_EQ(::mkfifo(fileFor("Zenvor").c_str(), 0600), 0);
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand("Zenvor");
  ASSERT_TRUE(prefs);
  EXPECT_FALSE(prefs->prefs());
  EXPECT_EQ(prefs->readError(),
            "cannot read " + fileFor("Zenvor").string() + ": not a regular file (a FIFO)");
  EXPECT_FALSE(prefs->save());
  EXPECT_TRUE(std::filesystem::is_fifo(fileFor("Zenvor")));
}

TEST_F(ZVPreferencesFileTest, BrandsThatCannotNameAFileAreRefused) {
  for (const std::string& brand :
       std::vector<std::string>{"", ".", "..", "../evil", "a/b", std::string("a\0b", 3)}) {
    EXPECT_EQ(ZVPreferencesFile::createForBrand(brand), nullptr) << "brand '" << brand << "'";
    EXPECT_EQ(ZVPreferencesFile::preferenceFileForBrand(brand), nullptr);
  }
  EXPECT_TRUE(contents.empty());
  EXPECT_FALSE(std::filesystem::exists(tree.path("home/evil.plist")));
  // A refused brand does not use up the process's one object.
  EXPECT_TRUE(ZVPreferencesFile::preferenceFileForBrand("Fine"));
}

TEST_F(ZVPreferencesFileTest, AFileThatCannotBeCreatedIsReportedAndKeptInMemory) {
  tree.write("home/.config", "a file where the folder should be");
  zv::testing::LogCapture log;
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand("Zenvor");
  ASSERT_TRUE(prefs);
  ASSERT_TRUE(prefs->prefs());
  EXPECT_TRUE(prefs->prefs()->empty());
  EXPECT_EQ(contents, std::vector<std::string>{"{}"});
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 1u) << log.joined();
  EXPECT_EQ(lines[0].level, zv::log::ZVLogLevel::Critical);
  EXPECT_TRUE(lines[0].message.starts_with("cannot create the preferences file: "))
      << lines[0].message;
  EXPECT_NE(lines[0].message.find(fileFor("Zenvor").string()), std::string::npos)
      << lines[0].message;
  EXPECT_EQ(tree.read("home/.config"), "a file where the folder should be");
}

TEST_F(ZVPreferencesFileTest, TheSharedObjectTakesTheBrandOfTheApplicationBundle) {
  const auto bundle = tree.path("Applications/Perch.app");
  tree.write("Applications/Perch.app/Contents/Info.plist",
             zv::support::writePropertyListXML(dictionary({{"Brand", "Acme"}})));
  ::setenv("KINETRA_APP_BUNDLE", bundle.c_str(), 1);
  const auto prefs = ZVPreferencesFile::sharedZVPreferencesFile();
  ::unsetenv("KINETRA_APP_BUNDLE");
  ASSERT_TRUE(prefs);
  EXPECT_EQ(prefs->filePath(), fileFor("Acme"));
  EXPECT_TRUE(std::filesystem::exists(fileFor("Acme")));
  EXPECT_EQ(ZVPreferencesFile::preferenceFileForBrand("Acme"), prefs);
  EXPECT_EQ(ZVPreferencesFile::sharedZVPreferencesFile(), prefs);

  // Without a bundle (a bare program) the object has no file and nothing to save.
  ZVPreferencesFile::forgetProcessInstanceForTesting();
  const auto unbound = ZVPreferencesFile::create();
  ASSERT_TRUE(unbound);
  EXPECT_TRUE(unbound->filePath().empty());
  EXPECT_EQ(unbound->prefs(), nullptr);
  EXPECT_FALSE(unbound->save());
}
