#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>

#include "output/Workspace.h"
#include "platform/ExclusiveFile.h"
#include "profile/EditorHandOver.h"
#include "testing/TemporaryTree.h"

namespace zv::profile {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  return files;
}

json::Value numberOf(const json::DictionaryPtr& dictionary, const char* key) {
  const json::Value* value = dictionary->find(key);
  return value ? *value : json::Value();
}

TEST(EditorHandOver, PrivateUnguessableFilesInTheRuntimeFolder) {
  testing::TemporaryTree tree;
  const mode_t oldMask = ::umask(0);  // whatever the umask, the file is the owner's only
  json::DictionaryPtr dictionary = json::makeDictionary();
  dictionary->set("file", "/home/u/.local/share/Kinetra/DemoMouse/Mine & <Yours>.pr0");
  dictionary->set("productId", 5892);

  std::set<fs::path> names;
  for (int i = 0; i < 3; ++i) {
    const auto path = writeEditorHandOver(dictionary, "pr1");
    ASSERT_TRUE(path) << path.failure().message;
    EXPECT_EQ(path->parent_path(), tree.path("run"));
    EXPECT_TRUE(std::regex_match(path->filename().string(), std::regex("[0-9a-f]{32}\\.pr1")))
        << *path;
    names.insert(*path);
    struct stat info {};
    ASSERT_EQ(::lstat(path->c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    const auto back = readEditorHandOver(*path);
    ASSERT_TRUE(back) << back.failure().message;
    EXPECT_EQ(json::Value(*back), json::Value(dictionary));
  }
  ::umask(oldMask);
  EXPECT_EQ(names.size(), 3u) << "every hand-over gets a name of its own";

  for (const char* extension : {"../pr1", ""}) {
    const auto refused = writeEditorHandOver(dictionary, extension);
    ASSERT_FALSE(refused) << extension;
    EXPECT_TRUE(refused.failure().is(kEditorHandOverDomain, kNotAPlainName));
  }
  EXPECT_EQ(filesIn(tree.path("run")).size(), 3u);
  ::setenv("KINETRA_RUNTIME_DIR", tree.path("missing").c_str(), 1);
  const auto noFolder = writeEditorHandOver(dictionary, "pr1");
  ASSERT_FALSE(noFolder);
  EXPECT_TRUE(noFolder.failure().is(base::kSystemDomain, ENOENT));
  EXPECT_NE(noFolder.failure().message.find(tree.path("missing").string()), std::string::npos)
      << noFolder.failure().message;
  EXPECT_TRUE(noFolder.failure().message.ends_with(": cannot create: No such file or directory"))
      << noFolder.failure().message;
}

TEST(EditorHandOver, ExclusiveCreationNeverReplacesOrFollows) {
  testing::TemporaryTree tree;
  const fs::path existing = tree.write("run/taken.pr1", "someone else's");
  const auto taken = platform::createFileExclusively(existing, "ours", 0600);
  ASSERT_FALSE(taken);
  EXPECT_TRUE(taken.failure().is(base::kSystemDomain, EEXIST));
  EXPECT_EQ(taken.failure().message, existing.string() + ": cannot create: File exists");
  EXPECT_EQ(tree.read("run/taken.pr1"), "someone else's");

  // A link planted at the name, dangling or not, is refused and its target not written.
  fs::create_symlink(tree.path("victim"), tree.path("run/link.pr1"));
  EXPECT_FALSE(platform::createFileExclusively(tree.path("run/link.pr1"), "ours", 0600));
  EXPECT_FALSE(fs::exists(tree.path("victim")));
  tree.write("victim", "precious");
  EXPECT_FALSE(platform::createFileExclusively(tree.path("run/link.pr1"), "ours", 0600));
  EXPECT_EQ(tree.read("victim"), "precious");

  const auto created = platform::createFileExclusively(tree.path("run/new"), "ours", 0640);
  ASSERT_TRUE(created) << created.failure().message;
  EXPECT_EQ(tree.read("run/new"), "ours");
  EXPECT_EQ(fs::status(tree.path("run/new")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_NE(platform::randomHexToken(), platform::randomHexToken());
}

TEST(EditorHandOver, ReadingRefusesWhatIsNoHandOver) {
  testing::TemporaryTree tree;
  const std::string dictionary =
      "<plist version=\"1.0\"><dict><key>file</key><string>/p.pr0</string></dict></plist>";
  const fs::path good = tree.write("run/good.pr1", dictionary);
  fs::create_symlink(good, tree.path("run/link.pr1"));
  const fs::path cases[] = {
      tree.path("run/missing.pr1"),
      tree.path("run/link.pr1"),
      tree.path("run"),
      tree.write("run/array.pr1", "<plist version=\"1.0\"><array/></plist>"),
      tree.write("run/garbage.pr1", "<plist><dict><key>file"),
      tree.write("run/huge.pr1", dictionary + std::string(70 * 1024, ' ')),
  };
  const std::pair<const char*, int> kinds[] = {
      {base::kSystemDomain, ENOENT},
      {base::kSystemDomain, ELOOP},
      {kEditorHandOverDomain, kNotAHandOverFile},
      {kEditorHandOverDomain, kNotADictionary},
      {kEditorHandOverDomain, kNotADictionary},
      {kEditorHandOverDomain, kNotAHandOverFile},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto read = readEditorHandOver(cases[i]);
    ASSERT_FALSE(read) << cases[i];
    EXPECT_TRUE(read.failure().is(kinds[i].first, kinds[i].second))
        << cases[i] << ": " << read.failure().domain << " " << read.failure().code;
    EXPECT_TRUE(read.failure().message.starts_with(cases[i].string() + ": "))
        << read.failure().message;
  }
  const auto back = readEditorHandOver(good);
  ASSERT_TRUE(back);
  EXPECT_TRUE(*back);
}

class InvokeEditorTest : public ::testing::Test {
 protected:
  InvokeEditorTest() {
    tree.write("Applications/Perch.app/Contents/Info.plist",
               "<plist version=\"1.0\"><dict><key>Brand</key><string>BRAND_NAME</string>"
               "</dict></plist>");
    ::setenv("KINETRA_APP_BUNDLE", tree.path("Applications/Perch.app").c_str(), 1);
    output::Workspace::setShared(workspace);
  }
  ~InvokeEditorTest() override {
    output::Workspace::setShared(nullptr);
    ::unsetenv("KINETRA_APP_BUNDLE");
  }
  void installEditor() {
    tree.write("Applications/Zenvor Editor.app/Contents/Info.plist",
               "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>tessel"
               "</string></dict></plist>");
    const fs::path executable =
        tree.write("Applications/Zenvor Editor.app/Contents/Linux/tessel", "#!/bin/sh\n");
    fs::permissions(executable, fs::perms::owner_all);
  }

  testing::TemporaryTree tree;
  std::shared_ptr<output::RecordingWorkspace> workspace =
      std::make_shared<output::RecordingWorkspace>();
};

TEST_F(InvokeEditorTest, HandsTheProfileAndTheDeviceToTheBrandsEditor) {
  installEditor();
  const auto alias = invokeEditorForProfileUsingAlias(
      "/profiles/Mine.pr0", {"DemoMouse-1", "Zenvor Demo Mouse", 5892, 23126});
  ASSERT_TRUE(alias) << alias.failure().message;
  const auto balias = invokeEditorForProfileUsingBalias("/profiles/Other.pr0", "DemoMouse");
  ASSERT_TRUE(balias) << balias.failure().message;

  const auto opened = workspace->openedWithApplications();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_TRUE(workspace->paths().empty());
  for (const auto& open : opened) {
    EXPECT_EQ(open.applicationPath, tree.path("Applications/Zenvor Editor.app").string());
    EXPECT_EQ(fs::path(open.path).parent_path(), tree.path("run"));
    EXPECT_EQ(fs::path(open.path).extension(), ".pr1");
  }
  const auto aliasFile = readEditorHandOver(opened[0].path);
  ASSERT_TRUE(aliasFile) << aliasFile.failure().message;
  const json::DictionaryPtr expected = json::makeDictionary();
  expected->set("file", "/profiles/Mine.pr0");
  expected->set("alias", "DemoMouse-1");
  expected->set("name", "Zenvor Demo Mouse");
  expected->set("productId", 5892);
  expected->set("vendorId", 23126);
  EXPECT_EQ(json::Value(*aliasFile), json::Value(expected));
  const auto baliasFile = readEditorHandOver(opened[1].path);
  ASSERT_TRUE(baliasFile) << baliasFile.failure().message;
  EXPECT_EQ((*baliasFile)->size(), 2u);
  EXPECT_EQ(numberOf(*baliasFile, "file").asString(), "/profiles/Other.pr0");
  EXPECT_EQ(numberOf(*baliasFile, "balias").asString(), "DemoMouse");
}

TEST_F(InvokeEditorTest, FailuresAreClearAndLeaveNothingBehind) {
  // The failure of one invocation, as "<domain> <code>: <message>".
  const auto failure = [](const std::filesystem::path& profile) {
    const auto started = invokeEditorForProfileUsingBalias(profile, "DemoMouse");
    if (started) return std::string("started");
    const base::Failure& why = started.failure();
    return why.domain + " " + std::to_string(why.code) + ": " + why.message;
  };
  const std::string editor = tree.path("Applications/Zenvor Editor.app").string();
  const std::string unusable =
      "EditorHandOver " + std::to_string(kEditorUnusable) + ": cannot start the editor: " + editor;
  EXPECT_EQ(failure("/profiles/Mine.pr0"), unusable + ": no such application");

  tree.write("Applications/Zenvor Editor.app/Contents/Info.plist", "<plist><dict/></plist>");
  EXPECT_EQ(failure("/profiles/Mine.pr0"),
            unusable + ": its Contents/Info.plist names no executable (CFBundleExecutable)");

  installEditor();
  fs::permissions(tree.path("Applications/Zenvor Editor.app/Contents/Linux/tessel"),
                  fs::perms::owner_read);
  EXPECT_NE(failure("/profiles/Mine.pr0").find("missing or not executable"), std::string::npos);

  EXPECT_EQ(failure("/profiles/\xFF.pr0"),
            "EditorHandOver " + std::to_string(kProfilePathNotText) +
                ": the profile path is not UTF-8 text: the editor could not be told it");
  EXPECT_TRUE(workspace->openedWithApplications().empty());

  // The workspace could not start it: the hand-over file is removed again.
  installEditor();
  output::Workspace::setShared(std::make_shared<output::RecordingWorkspace>(false));
  EXPECT_EQ(failure("/profiles/Mine.pr0"), "EditorHandOver " + std::to_string(kEditorDidNotStart) +
                                               ": cannot start the editor " + editor);

  // No brand, or one that cannot name an application.
  tree.write("Applications/Perch.app/Contents/Info.plist", "<plist><dict/></plist>");
  EXPECT_EQ(failure("/profiles/Mine.pr0"),
            "EditorHandOver " + std::to_string(kNoBrand) +
                ": cannot start the editor: the application has no brand (\"Brand\" in its "
                "Info.plist)");
  const auto refused = editorApplicationPath("../../bin/x");
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.failure().is(kEditorHandOverDomain, kNotAPlainName));
  EXPECT_EQ(editorApplicationPath("Acme").valueOr({}), tree.path("Applications/Acme Editor.app"));
  EXPECT_TRUE(filesIn(tree.path("run")).empty());
}

}  // namespace
}  // namespace zv::profile
