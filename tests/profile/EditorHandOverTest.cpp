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
    std::string error;
    const auto path = writeEditorHandOver(dictionary, "pr1", &error);
    ASSERT_TRUE(path) << error;
    EXPECT_EQ(path->parent_path(), tree.path("run"));
    EXPECT_TRUE(std::regex_match(path->filename().string(), std::regex("[0-9a-f]{32}\\.pr1")))
        << *path;
    names.insert(*path);
    struct stat info {};
    ASSERT_EQ(::lstat(path->c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    const json::DictionaryPtr back = readEditorHandOver(*path, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(json::Value(back), json::Value(dictionary));
  }
  ::umask(oldMask);
  EXPECT_EQ(names.size(), 3u) << "every hand-over gets a name of its own";

  std::string error;
  EXPECT_FALSE(writeEditorHandOver(dictionary, "../pr1", &error));
  EXPECT_FALSE(writeEditorHandOver(dictionary, "", &error));
  EXPECT_EQ(filesIn(tree.path("run")).size(), 3u);
  ::setenv("KINETRA_RUNTIME_DIR", tree.path("missing").c_str(), 1);
  EXPECT_FALSE(writeEditorHandOver(dictionary, "pr1", &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST(EditorHandOver, ExclusiveCreationNeverReplacesOrFollows) {
  testing::TemporaryTree tree;
  const fs::path existing = tree.write("run/taken.pr1", "someone else's");
  std::string error;
  EXPECT_FALSE(platform::createFileExclusively(existing, "ours", 0600, &error));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(tree.read("run/taken.pr1"), "someone else's");

  // A link planted at the name, dangling or not, is refused and its target not written.
  fs::create_symlink(tree.path("victim"), tree.path("run/link.pr1"));
  EXPECT_FALSE(platform::createFileExclusively(tree.path("run/link.pr1"), "ours", 0600, &error));
  EXPECT_FALSE(fs::exists(tree.path("victim")));
  tree.write("victim", "precious");
  EXPECT_FALSE(platform::createFileExclusively(tree.path("run/link.pr1"), "ours", 0600, &error));
  EXPECT_EQ(tree.read("victim"), "precious");

  ASSERT_TRUE(platform::createFileExclusively(tree.path("run/new"), "ours", 0640, &error)) << error;
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
  for (const fs::path& path : cases) {
    std::string error;
    EXPECT_FALSE(readEditorHandOver(path, &error)) << path;
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
  }
  EXPECT_TRUE(readEditorHandOver(good));
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
  std::string error;
  ASSERT_TRUE(invokeEditorForProfileUsingAlias(
      "/profiles/Mine.pr0", {"DemoMouse-1", "Zenvor Demo Mouse", 5892, 23126}, &error))
      << error;
  ASSERT_TRUE(invokeEditorForProfileUsingBalias("/profiles/Other.pr0", "DemoMouse", &error))
      << error;

  const auto opened = workspace->openedWithApplications();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_TRUE(workspace->paths().empty());
  for (const auto& open : opened) {
    EXPECT_EQ(open.applicationPath, tree.path("Applications/Zenvor Editor.app").string());
    EXPECT_EQ(fs::path(open.path).parent_path(), tree.path("run"));
    EXPECT_EQ(fs::path(open.path).extension(), ".pr1");
  }
  const json::DictionaryPtr alias = readEditorHandOver(opened[0].path, &error);
  ASSERT_TRUE(alias) << error;
  const json::DictionaryPtr expected = json::makeDictionary();
  expected->set("file", "/profiles/Mine.pr0");
  expected->set("alias", "DemoMouse-1");
  expected->set("name", "Zenvor Demo Mouse");
  expected->set("productId", 5892);
  expected->set("vendorId", 23126);
  EXPECT_EQ(json::Value(alias), json::Value(expected));
  const json::DictionaryPtr balias = readEditorHandOver(opened[1].path, &error);
  ASSERT_TRUE(balias) << error;
  EXPECT_EQ(balias->size(), 2u);
  EXPECT_EQ(numberOf(balias, "file").asString(), "/profiles/Other.pr0");
  EXPECT_EQ(numberOf(balias, "balias").asString(), "DemoMouse");
}

TEST_F(InvokeEditorTest, FailuresAreClearAndLeaveNothingBehind) {
  std::string error;
  EXPECT_FALSE(invokeEditorForProfileUsingBalias("/profiles/Mine.pr0", "DemoMouse", &error));
  EXPECT_NE(error.find("Zenvor Editor.app: no such application"), std::string::npos) << error;

  tree.write("Applications/Zenvor Editor.app/Contents/Info.plist", "<plist><dict/></plist>");
  EXPECT_FALSE(invokeEditorForProfileUsingBalias("/profiles/Mine.pr0", "DemoMouse", &error));
  EXPECT_NE(error.find("names no executable"), std::string::npos) << error;

  installEditor();
  fs::permissions(tree.path("Applications/Zenvor Editor.app/Contents/Linux/tessel"),
                  fs::perms::owner_read);
  EXPECT_FALSE(invokeEditorForProfileUsingBalias("/profiles/Mine.pr0", "DemoMouse", &error));
  EXPECT_NE(error.find("missing or not executable"), std::string::npos) << error;

  EXPECT_FALSE(invokeEditorForProfileUsingBalias("/profiles/\xFF.pr0", "DemoMouse", &error));
  EXPECT_NE(error.find("not UTF-8"), std::string::npos) << error;
  EXPECT_TRUE(workspace->openedWithApplications().empty());

  // The workspace could not start it: the hand-over file is removed again.
  installEditor();
  output::Workspace::setShared(std::make_shared<output::RecordingWorkspace>(false));
  EXPECT_FALSE(invokeEditorForProfileUsingBalias("/profiles/Mine.pr0", "DemoMouse", &error));
  EXPECT_NE(error.find("cannot start the editor"), std::string::npos) << error;

  // No brand, or one that cannot name an application.
  tree.write("Applications/Perch.app/Contents/Info.plist", "<plist><dict/></plist>");
  EXPECT_FALSE(invokeEditorForProfileUsingBalias("/profiles/Mine.pr0", "DemoMouse", &error));
  EXPECT_NE(error.find("no brand"), std::string::npos) << error;
  EXPECT_FALSE(editorApplicationPath("../../bin/x", &error));
  EXPECT_EQ(editorApplicationPath("Acme"), tree.path("Applications/Acme Editor.app"));
  EXPECT_TRUE(filesIn(tree.path("run")).empty());
}

}  // namespace
}  // namespace zv::profile
