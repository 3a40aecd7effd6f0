// The profile's files: loading from text, file and seed with what is logged, the name
// taken from the file, saving (new path, same path, refusals that keep files intact),
// reset, the agent's reactions to its file changing on disk (real files, the real file
// watch on the main run loop), compatibility of profile files and the editor hand-over.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "EngineTestSupport.h"
#include "engine/CommandThreads.h"
#include "log/Log.h"
#include "platform/AtomicFile.h"
#include "platform/RunLoop.h"
#include "platform/VDKQueueNotifications.h"
#include "profile/EditorHandOver.h"
#include "profile/ProfileFile.h"
#include "testing/TemporaryTree.h"

namespace zv::engine::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using engine::ZVProfile;

// Generous: only a broken watch ever reaches it.
constexpr auto kPatience = 10'000ms;

class FileDelegate : public engine::ZVProfileNotifications {
 public:
  void profileWasRenamed(engine::ZVProfile& profile) override {
    heard.push_back("renamed " + profile.string("profile"));
  }
  void profileWasDeleted(engine::ZVProfile&) override { heard.push_back("deleted"); }
  bool profileHasChangedOnDisk(engine::ZVProfile&) override {
    heard.push_back("changed");
    return allowReload;
  }
  std::size_t count(const std::string& what) const {
    return static_cast<std::size_t>(std::count(heard.begin(), heard.end(), what));
  }

  Lines heard;
  bool allowReload = true;
};

// A harness whose profiles live in a temporary folder, with the bundled prototype as the
// process's shared one, and log lines and system-log notices captured.
class ProfileFiles : public ::testing::Test {
 protected:
  explicit ProfileFiles(bool executive = true) : h(executive) {
    engine::ZVProfile::setSharedPrototype(testing::bundledPrototype());
    h.store = std::make_shared<device::SimpleProfileStore>(seedPath(), tree.path("profiles"));
    h.device->setProfileStore(h.store);
    fs::create_directories(tree.path("profiles"));
    previousThreshold_ = log::logThreshold();
    log::setLogThreshold(static_cast<int>(log::ZVLogLevel::Debug));
    previousSink_ = log::setLogSink([this](const log::LogRecord& record) {
      logged.push_back(std::to_string(static_cast<int>(record.level)) + " " +
                       std::string(record.message));
    });
    previousHandler_ = log::setSystemLogHandler(
        [this](std::string_view message) { notices.emplace_back(message); });
  }
  ~ProfileFiles() override {
    log::setLogThreshold(previousThreshold_);
    log::setLogSink(std::move(previousSink_));
    log::setSystemLogHandler(std::move(previousHandler_));
    engine::ZVProfile::setSharedPrototype(nullptr);
  }

  static fs::path seedPath() { return testing::demoBundlePath() / "Contents/Resources/Seed.pr0"; }
  static std::string demoText(const std::string& name) {
    auto text = profile::readProfileText(testing::demoBundlePath() / "Contents/Resources" / name);
    EXPECT_TRUE(text);
    return text.value_or("");
  }
  static std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A profile file in the temporary folder, written as the program writes profiles.
  fs::path writeProfile(const std::string& name, const std::string& text) {
    const fs::path path = tree.path("profiles/" + name);
    EXPECT_TRUE(profile::writeProfileText(path, text));
    return path;
  }
  // A new profile on the harness's clock, loaded from `path` and made active.
  std::shared_ptr<ZVProfile> loadFile(const fs::path& path,
                                      std::weak_ptr<engine::ZVProfileNotifications> delegate = {}) {
    auto profile = ZVProfile::create();
    profile->setClock(h.clock);
    std::string error;
    EXPECT_TRUE(profile->initFromFile(path, h.device, std::move(delegate), &error)) << error;
    profile->setActive();
    h.profile = profile;
    return profile;
  }
  // One press and release of `element`, and what came out.
  Lines tap(std::uint32_t element) {
    h.event(element, 1);
    EXPECT_TRUE(h.settle(1));
    h.event(element, 0);
    EXPECT_TRUE(h.idle());
    return h.take();
  }
  bool waitFor(const std::function<bool()>& condition) {
    return platform::RunLoop::main().runUntil(condition, kPatience);
  }

  testing::TemporaryTree tree;  // outlives the harness, which ends the profiles first
  testing::EngineHarness h;
  Lines logged;
  Lines notices;

 private:
  std::optional<int> previousThreshold_;
  log::LogSink previousSink_;
  log::SystemLogHandler previousHandler_;
};

class EditorProfileFiles : public ProfileFiles {
 protected:
  EditorProfileFiles() : ProfileFiles(false) {}
};

const Lines kPageDown{"KEY_PAGEDOWN 1", "KEY_PAGEDOWN 0"};

TEST_F(ProfileFiles, LoadingFromTextFileAndSeed) {
  const std::string device = "Zenvor Demo Mouse";
  auto profile = ZVProfile::create();
  profile->setClock(h.clock);
  h.profile = profile;

  // Text: loaded, or neither loaded nor with a tree, with the reason and a level-3 line.
  EXPECT_TRUE(profile->initWithString(demoText("Default.pr0"), h.device));
  profile->setActive();
  EXPECT_EQ(tap(button(4)), kPageDown);
  std::string error;
  EXPECT_FALSE(
      profile->initWithString("[profile=Broken [controller=DemoMouse ]", h.device, {}, &error));
  EXPECT_EQ(error, "not a readable profile: line 1, column 1: this node is never closed");
  EXPECT_FALSE(profile->loaded());
  EXPECT_FALSE(profile->JSONDictionary()) << "no tree";
  EXPECT_FALSE(profile->currentController());
  EXPECT_FALSE(profile->currentShiftState()) << "the old tree's state was deactivated";
  h.event(button(4), 1);
  h.event(button(4), 0);
  EXPECT_TRUE(h.idle());
  EXPECT_TRUE(h.take().empty()) << "events are ignored";
  EXPECT_EQ(logged, (Lines{"3 Failed to load profile: [profile=Broken [controller=DemoMouse ] "
                           "for device " +
                           device}));
  EXPECT_FALSE(profile->initWithString("[list [a=1 ] ]", h.device));
  EXPECT_FALSE(profile->JSONDictionary()) << "a list is no profile";

  // A prototype without "profile": the tree is built, the profile is not loaded.
  json::DictionaryPtr prototype = testing::bundledPrototype();
  prototype->erase("profile");
  ZVProfile::setSharedPrototype(prototype);
  logged.clear();
  EXPECT_FALSE(profile->initWithString("[profile=P ]", h.device));
  EXPECT_TRUE(profile->JSONDictionary());
  EXPECT_FALSE(profile->loaded());
  EXPECT_EQ(logged, (Lines{"3 Profile corrupt: [profile=P ] for device " + device}));
  ZVProfile::setSharedPrototype(testing::bundledPrototype());

  // The seed: the path the store gives its name, a level-4 line, no system-log notice.
  logged.clear();
  auto seeded = ZVProfile::create();
  EXPECT_TRUE(seeded->initForDevice(h.device));
  EXPECT_EQ(seeded->string("profile"), "Seed");
  EXPECT_EQ(seeded->path(), tree.path("profiles/Seed.pr0"));
  EXPECT_FALSE(fs::exists(tree.path("profiles/Seed.pr0"))) << "nothing is written";
  EXPECT_FALSE(seeded->fileWatcher());
  EXPECT_EQ(logged, (Lines{"4 Loading " + device + " profile from " + seedPath().string()}));
  EXPECT_TRUE(notices.empty());
  auto none = ZVProfile::create();
  EXPECT_TRUE(none->initFromFile(std::nullopt, h.device)) << "no path: the seed";
  EXPECT_EQ(none->string("profile"), "Seed");

  // A file: the notice, a missing file recreated from the seed and named after itself.
  const fs::path mine = tree.path("profiles/Mine.pr0");
  auto fromFile = ZVProfile::create();
  EXPECT_TRUE(fromFile->initFromFile(mine, h.device));
  EXPECT_EQ(notices, (Lines{"Loading profile at: " + mine.string()}));
  EXPECT_EQ(bytesOf(mine), bytesOf(seedPath()));
  EXPECT_EQ(fromFile->string("profile"), "Mine");
  EXPECT_FALSE(fromFile->isSeed());
  const fs::path unreadable = tree.write("profiles/Bad.pr0", "[a=\xc3(]");
  EXPECT_FALSE(fromFile->initFromFile(unreadable, h.device, {}, &error));
  EXPECT_EQ(error, "cannot read " + unreadable.string() + ": neither UTF-16 nor UTF-8 text");
  EXPECT_FALSE(fromFile->JSONDictionary());

  // The default profile of a device: its store's seed, without delegate.
  auto defaults = ZVProfile::defaultProfileForDevice(h.device);
  EXPECT_TRUE(defaults->loaded());
  EXPECT_TRUE(defaults->isSeed());
  EXPECT_FALSE(defaults->delegate());
}

TEST_F(ProfileFiles, AProfileTakesTheNameOfItsFile) {
  auto delegate = std::make_shared<FileDelegate>();
  // Default.pr0's text under another name: renamed at load, and told.
  auto profile = loadFile(writeProfile("Work.pr0", demoText("Default.pr0")), delegate);
  EXPECT_EQ(profile->string("profile"), "Work");
  EXPECT_EQ(delegate->heard, (Lines{"renamed Work"}));
  EXPECT_FALSE(profile->checkName()) << "the names agree now";

  // A file whose name matches is not reported; neither is a profile without path.
  delegate->heard.clear();
  auto named = ZVProfile::create();
  named->initFromFile(writeProfile("Seed.pr0", demoText("Seed.pr0")), h.device, delegate);
  EXPECT_TRUE(delegate->heard.empty());
  auto pathless = ZVProfile::create();
  pathless->initWithString(demoText("Seed.pr0"), h.device);
  EXPECT_FALSE(pathless->checkName());
}

TEST_F(EditorProfileFiles, SavingToANewPathOrTheSamePath) {
  const fs::path original = writeProfile("Default.pr0", demoText("Default.pr0"));
  const std::string originalBytes = bytesOf(original);
  auto profile = loadFile(original);
  EXPECT_FALSE(profile->fileWatcher()) << "only the agent watches what it loads";

  // The same path: rewritten with the same bytes (the file reads back unchanged).
  profile->setShiftStateIdx(1);
  std::string error;
  ASSERT_TRUE(profile->save(&error)) << error;
  EXPECT_EQ(bytesOf(original), originalBytes);
  EXPECT_EQ(profile->shiftStateIdx(), -1);

  // A new path: the profile moves there, takes the file's name, and watches it (in
  // every process); the old file stays as it was.
  const fs::path copy = tree.path("profiles/Copy.pr0");
  ASSERT_TRUE(profile->saveToPath(copy, &error)) << error;
  EXPECT_EQ(profile->path(), copy);
  EXPECT_EQ(profile->string("profile"), "Copy");
  EXPECT_EQ(bytesOf(original), originalBytes);
  ASSERT_TRUE(profile->fileWatcher());
  EXPECT_EQ(profile->fileWatcher()->numberOfWatchedPaths(), 1u);
  auto reread = profile::readProfileText(copy);
  ASSERT_TRUE(reread);
  std::string expected = demoText("Default.pr0");
  expected.replace(expected.find("profile=Default"), 15, "profile=Copy");
  EXPECT_EQ(*reread, expected);
  EXPECT_EQ(bytesOf(copy).substr(0, 2), "\xFF\xFE") << "UTF-16 with a byte-order mark";

  // A tree that does not convert to text that reads back: nothing is replaced. At the
  // same path the file keeps its bytes; a new path gets only the empty file the save
  // starts with; an existing file at a new path is not emptied.
  const std::string copyBytes = bytesOf(copy);
  auto normal = std::dynamic_pointer_cast<ZVShiftState>(
      profile->currentController()->children("shifts").front());
  ASSERT_TRUE(normal->setString("name", "Nor]mal"));
  EXPECT_FALSE(profile->save(&error));
  EXPECT_NE(error.find("node text cannot store"), std::string::npos) << error;
  EXPECT_EQ(bytesOf(copy), copyBytes);
  const fs::path fresh = tree.path("profiles/Fresh.pr0");
  EXPECT_FALSE(profile->saveToPath(fresh, &error));
  EXPECT_TRUE(fs::exists(fresh));
  EXPECT_EQ(fs::file_size(fresh), 0u) << "a new file is created empty first";
  EXPECT_EQ(profile->path(), fresh);
  EXPECT_FALSE(profile->saveToPath(original, &error));
  EXPECT_EQ(bytesOf(original), originalBytes);

  // A profile that did not load has nothing to save.
  auto broken = ZVProfile::create();
  broken->initWithString("[", h.device);
  EXPECT_FALSE(broken->saveToPath(original, &error));
  EXPECT_EQ(bytesOf(original), originalBytes);
  EXPECT_FALSE(ZVProfile::create()->save(&error)) << "no path";
}

TEST_F(ProfileFiles, ResetTakesTheSeedAndKeepsThePath) {
  auto delegate = std::make_shared<FileDelegate>();
  const fs::path path = writeProfile("Mine.pr0", demoText("Default.pr0"));
  auto profile = loadFile(path, delegate);
  const std::string before = bytesOf(path);
  profile->reset();
  EXPECT_TRUE(profile->loaded());
  EXPECT_EQ(profile->path(), path);
  EXPECT_EQ(profile->string("profile"), "Mine");
  EXPECT_TRUE(profile->currentController()->children("shifts").size() == 1) << "the seed's";
  EXPECT_FALSE(profile->delegate());
  EXPECT_EQ(bytesOf(path), before) << "nothing is written";

  // It goes on following its own file, not the seed's.
  ASSERT_TRUE(profile->fileWatcher());
  EXPECT_EQ(profile->fileWatcher()->numberOfWatchedPaths(), 1u);
  ASSERT_TRUE(profile::writeProfileText(path, demoText("Default.pr0")));
  EXPECT_TRUE(waitFor([&] { return profile->currentController()->children("shifts").size() == 2; }))
      << "the replaced file was reloaded";
}

TEST_F(ProfileFiles, AFileReplacedOnDiskReloadsInPlaceUnlessVetoed) {
  auto delegate = std::make_shared<FileDelegate>();
  const std::string text = demoText("Default.pr0");
  const fs::path path = writeProfile("Default.pr0", text);
  auto profile = loadFile(path, delegate);
  ZVProfile* const object = profile.get();
  EXPECT_EQ(tap(button(4)), kPageDown);

  // Button 4 types B in the new file. The delegate vetoes: nothing changes.
  std::string changed = text;
  for (std::size_t at; (at = changed.find("usage=0x4e")) != std::string::npos;) {
    changed.replace(at, 10, "usage=0x5");
  }
  delegate->allowReload = false;
  ASSERT_TRUE(profile::writeProfileText(path, changed));
  ASSERT_TRUE(waitFor([&] { return delegate->count("changed") == 1; }));
  EXPECT_EQ(tap(button(4)), kPageDown);

  // Allowed: the same object reloads, stays the store's current profile and routes again.
  // (The watch followed the new file although the first change was vetoed.)
  delegate->allowReload = true;
  ASSERT_TRUE(profile::writeProfileText(path, changed));
  ASSERT_TRUE(waitFor([&] { return delegate->count("changed") == 2; }));
  EXPECT_EQ(h.profile.get(), object);
  EXPECT_EQ(h.store->currentProfile().get(), object);
  ASSERT_TRUE(profile->currentShiftState());
  EXPECT_EQ(profile->currentShiftState()->name(), "Normal");
  EXPECT_EQ(tap(button(4)), (Lines{"KEY_B 1", "KEY_B 0"}));
  EXPECT_EQ(profile->fileWatcher()->numberOfWatchedPaths(), 1u);

  // Replaced by something unreadable: the profile is no longer loaded and ignores events.
  ASSERT_TRUE(platform::writeFileAtomically(path, "[broken"));
  ASSERT_TRUE(waitFor([&] { return delegate->count("changed") == 3; }));
  EXPECT_FALSE(profile->loaded());
  EXPECT_FALSE(profile->currentShiftState());
  h.event(button(4), 1);
  EXPECT_TRUE(h.idle());
  EXPECT_TRUE(h.take().empty());
}

TEST_F(ProfileFiles, ADeletedFileIsReportedAndTheProfileStays) {
  auto delegate = std::make_shared<FileDelegate>();
  const fs::path path = writeProfile("Default.pr0", demoText("Default.pr0"));
  auto profile = loadFile(path, delegate);
  ASSERT_TRUE(fs::remove(path));
  ASSERT_TRUE(waitFor([&] { return delegate->count("deleted") == 1; }));
  EXPECT_EQ(delegate->count("changed"), 0u);
  EXPECT_TRUE(profile->loaded());
  EXPECT_EQ(profile->path(), path);
  EXPECT_EQ(tap(button(4)), kPageDown) << "still in memory, still running";

  // A rename reported for the profile's file: it takes the reported path and its name.
  // Other notifications change nothing.
  delegate->heard.clear();
  const std::string moved = tree.path("profiles/Moved.pr0").string();
  profile->VDKQueueReceivedNotification(*profile->fileWatcher(),
                                        platform::VDKQueueWriteNotification, moved);
  EXPECT_EQ(profile->path(), path);
  profile->VDKQueueReceivedNotification(*profile->fileWatcher(),
                                        platform::VDKQueueRenameNotification, moved);
  EXPECT_EQ(profile->path(), moved);
  EXPECT_EQ(delegate->heard, (Lines{"renamed Moved"}));
}

TEST_F(EditorProfileFiles, TheEditorIgnoresChangesOnDisk) {
  auto delegate = std::make_shared<FileDelegate>();
  const fs::path path = writeProfile("Default.pr0", demoText("Default.pr0"));
  auto profile = loadFile(path, delegate);
  auto queue = platform::VDKQueue::create();
  profile->VDKQueueReceivedNotification(*queue, platform::VDKQueueRenameNotification,
                                        tree.path("profiles/Other.pr0").string());
  profile->VDKQueueReceivedNotification(*queue, platform::VDKQueueDeleteNotification,
                                        tree.path("profiles/Gone.pr0").string());
  EXPECT_EQ(profile->path(), path);
  EXPECT_TRUE(delegate->heard.empty());
}

TEST_F(EditorProfileFiles, CompatibleFilesAndTheEditorHandOver) {
  // Only ".pr0" files naming the device's balias among their controllers.
  const std::string text = demoText("Default.pr0");
  std::string other = text;
  other.replace(other.find("controller=DemoMouse"), 20, "controller=OtherMouse");
  const fs::path good = writeProfile("Good.pr0", text);
  struct Case {
    fs::path path;
    bool compatible;
  } cases[] = {
      {good, true},
      {writeProfile("Other.pr0", other), false},
      {writeProfile("Good.txt", text), false},
      {tree.write("profiles/Garbage.pr0", "[[["), false},
      {tree.path("profiles/Missing.pr0"), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZVProfile::isProfileAtPath(c.path, *h.device), c.compatible) << c.path;
  }
  EXPECT_EQ(ZVProfile::controllersInFile(good), (std::vector<std::string>{"DemoMouse"}));
  EXPECT_EQ(ZVProfile::controllersInFile(tree.path("profiles/Other.pr0")),
            (std::vector<std::string>{"OtherMouse"}));

  // The editor is handed the device's own values.
  tree.write("Applications/Kinetra.app/Contents/Info.plist",
             "<plist version=\"1.0\"><dict><key>Brand</key><string>Zenvor</string></dict></plist>");
  ::setenv("KINETRA_APP_BUNDLE", tree.path("Applications/Kinetra.app").c_str(), 1);
  tree.write("Applications/Zenvor Editor.app/Contents/Info.plist",
             "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>tessel"
             "</string></dict></plist>");
  const fs::path executable =
      tree.write("Applications/Zenvor Editor.app/Contents/Linux/tessel", "#!/bin/sh\n");
  fs::permissions(executable, fs::perms::owner_all);
  std::string error;
  ASSERT_TRUE(ZVProfile::invokeEditorForProfileUsingAlias(good, *h.device, &error)) << error;
  ASSERT_TRUE(ZVProfile::invokeEditorForProfileUsingBalias(good, *h.device, &error)) << error;
  ::unsetenv("KINETRA_APP_BUNDLE");
  const auto opened = h.workspace->openedWithApplications();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].applicationPath, tree.path("Applications/Zenvor Editor.app").string());
  const json::DictionaryPtr alias = profile::readEditorHandOver(opened[0].path, &error);
  ASSERT_TRUE(alias) << error;
  const json::DictionaryPtr expected = json::makeDictionary();
  expected->set("file", good.string());
  expected->set("alias", "DemoMouse-1");
  expected->set("name", "Zenvor Demo Mouse");
  expected->set("productId", 5892);
  expected->set("vendorId", 23126);
  EXPECT_EQ(json::Value(alias), json::Value(expected));
  const json::DictionaryPtr balias = profile::readEditorHandOver(opened[1].path, &error);
  ASSERT_TRUE(balias) << error;
  const json::DictionaryPtr expectedBalias = json::makeDictionary();
  expectedBalias->set("file", good.string());
  expectedBalias->set("balias", "DemoMouse");
  EXPECT_EQ(json::Value(balias), json::Value(expectedBalias));
}

}  // namespace
}  // namespace zv::engine::test
