// A shared file with one mistyped tag: the store's info file, the application links and
// the preferences. Each is reported with its path and line, never written over from an
// empty reading, and replaced only by an explicit reset that keeps the damaged bytes.
#include <gtest/gtest.h>

#include <functional>

#include "StoreTestSupport.h"
#include "store/ZVPreferencesFile.h"
#include "store/ZVProfileSwitcher.h"
#include "support/PropertyList.h"

namespace zv::store::testing {
namespace {

class DamagedSharedFile;

// One shared file, seen through the object that owns it.
struct SharedFileKind {
  const char* name;
  std::function<fs::path(DamagedSharedFile&)> path;
  // Opens the owner on the damaged file; answers its damage report.
  std::function<std::string(DamagedSharedFile&)> open;
  // A change the user makes; true when it was written.
  std::function<bool(DamagedSharedFile&, std::string& error)> change;
  std::function<base::Result<fs::path>(DamagedSharedFile&)> reset;
};

void PrintTo(const SharedFileKind& kind, std::ostream* os) {
  *os << kind.name;
}

// The owners, kept by the test that opened them.
std::shared_ptr<ZVProfileSwitcher> switcher;
std::shared_ptr<ZVPreferencesFile> preferences;

class DamagedSharedFile : public StoreTest, public ::testing::WithParamInterface<SharedFileKind> {
 public:
  // What the kinds below reach.
  using StoreTest::device;
  using StoreTest::folder;
  using StoreTest::infoFile;
  using StoreTest::open;
  using StoreTest::store;

 protected:
  ~DamagedSharedFile() override {
    switcher.reset();
    preferences.reset();
    ZVPreferencesFile::forgetProcessInstanceForTesting();
  }
  std::string bytes(const fs::path& path) const {
    return tree.read(path.lexically_relative(tree.root()).string());
  }
};

const std::string kIntact = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>file:/usr/bin/a</key>
	<string>Work</string>
	<key>startupProfile</key>
	<string>/elsewhere/Work.pr0</string>
</dict>
</plist>
)";
// Line 5 holds the typing error.
std::string damaged() {
  std::string text = kIntact;
  text.replace(text.find("<string>Work</string>"), 21, "<strng>Work</string>");
  return text;
}

const SharedFileKind kKinds[] = {
    {"InfoFile", [](DamagedSharedFile& t) { return t.infoFile(); },
     [](DamagedSharedFile& t) {
       t.open();
       return t.store->infoDamage();
     },
     [](DamagedSharedFile& t, std::string& error) {
       return t.store->setStartupProfileByName("", &error);
     },
     [](DamagedSharedFile& t) { return t.store->resetInfo(); }},
    {"Links", [](DamagedSharedFile& t) { return t.folder() / "mappings.xml"; },
     [](DamagedSharedFile& t) {
       t.open();
       switcher = ZVProfileSwitcher::create(t.device, nullptr);
       return switcher->damage();
     },
     [](DamagedSharedFile&, std::string& error) {
       return switcher->setProfile("Default", "/usr/bin/b", &error);
     },
     [](DamagedSharedFile&) { return switcher->resetConfig(); }},
    {"Preferences", [](DamagedSharedFile&) { return ZVPreferencesFile::pathForBrand("Zenvor"); },
     [](DamagedSharedFile&) {
       ZVPreferencesFile::forgetProcessInstanceForTesting();
       preferences = ZVPreferencesFile::preferenceFileForBrand("Zenvor");
       return preferences->readError();
     },
     [](DamagedSharedFile&, std::string& error) {
       if (preferences->prefs())
         preferences->prefs()->set("HideStatusMenu", json::Value::boolean(true));
       return preferences->save(&error);
     },
     [](DamagedSharedFile&) { return preferences->reset(); }},
};

TEST_P(DamagedSharedFile, IsReportedRefusedAndKeptByAnExplicitReset) {
  const SharedFileKind& kind = GetParam();
  const fs::path path = kind.path(*this);
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(writeSharedFile(path, damaged()));

  const std::string damage = kind.open(*this);
  EXPECT_NE(damage.find(path.string() + ": "), std::string::npos) << damage;
  EXPECT_NE(damage.find("line 5: <strng>"), std::string::npos) << damage;

  std::string error;
  EXPECT_FALSE(kind.change(*this, error));
  EXPECT_NE(error.find("line 5"), std::string::npos) << error;
  EXPECT_EQ(bytes(path), damaged()) << "a damaged file is never written over";

  const auto copy = kind.reset(*this);
  ASSERT_TRUE(copy) << copy.failure().message;
  EXPECT_EQ(copy->parent_path(), path.parent_path());
  EXPECT_EQ(copy->filename().string().rfind(path.filename().string() + ".damaged-", 0), 0u);
  EXPECT_EQ(bytes(*copy), damaged());
  EXPECT_TRUE(kind.change(*this, error)) << error;
  EXPECT_TRUE(support::readPropertyList(bytes(path))) << "the reset file reads";
  EXPECT_FALSE(kind.reset(*this)) << "an intact file is not reset";
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedSharedFile, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zv::store::testing
