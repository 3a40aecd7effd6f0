#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "output/Workspace.h"
#include "testing/MessageCapture.h"
#include "testing/TemporaryTree.h"

namespace zv::output {
namespace {

namespace fs = std::filesystem;

// Started programs run on their own; wait (generously) for what they leave behind.
bool appears(const fs::path& path) {
  for (int i = 0; i < 1000; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

fs::path writeScript(const zv::testing::TemporaryTree& tree, const std::string& name,
                     const std::string& body) {
  fs::path path = tree.write(name, "#!/bin/sh\n" + body);
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

class DesktopWorkspaceTest : public ::testing::Test {
 protected:
  DesktopWorkspaceTest() {
    // A stand-in opener that writes each argument on a line of its own, then renames the
    // file into place so the test never reads it half-written.
    opener = writeScript(tree, "bin/opener",
                         "printf '%s\\n' \"$@\" > \"" + tree.path("opened.tmp").string() +
                             "\"\nmv \"" + tree.path("opened.tmp").string() + "\" \"" +
                             tree.path("opened").string() + "\"\n");
  }

  zv::testing::TemporaryTree tree;
  zv::testing::MessageCapture messages;
  fs::path opener;
};

TEST_F(DesktopWorkspaceTest, DocumentsGoToTheOpenerAsOneUntouchedArgument) {
  DesktopWorkspace workspace(opener.string());
  // Shell syntax in a path must stay text.
  const fs::path document =
      tree.write("docs/a file; $(touch INJECTED) `touch INJECTED2` & it's.txt", "x");
  ASSERT_TRUE(workspace.openFile(document.string())) << messages.joined();
  ASSERT_TRUE(appears(tree.path("opened")));
  EXPECT_EQ(tree.read("opened"), document.string() + "\n");
  EXPECT_FALSE(fs::exists(tree.path("INJECTED")));
  EXPECT_FALSE(fs::exists("INJECTED"));
  EXPECT_FALSE(fs::exists("INJECTED2"));

  fs::remove(tree.path("opened"));
  ASSERT_TRUE(workspace.openFile("https://example.org/a?b=c&d"));
  ASSERT_TRUE(appears(tree.path("opened")));
  EXPECT_EQ(tree.read("opened"), "https://example.org/a?b=c&d\n");

  fs::remove(tree.path("opened"));
  ASSERT_TRUE(workspace.openFile(tree.path("docs").string())) << "folders open too";
  ASSERT_TRUE(appears(tree.path("opened")));
}

TEST_F(DesktopWorkspaceTest, ProgramsStartThemselves) {
  DesktopWorkspace workspace(opener.string());
  const fs::path program =
      writeScript(tree, "Apps/tool", "touch \"" + tree.path("started").string() + "\"\n");
  ASSERT_TRUE(workspace.openFile(program.string())) << messages.joined();
  ASSERT_TRUE(appears(tree.path("started")));
  EXPECT_FALSE(fs::exists(tree.path("opened"))) << "the opener is not involved";

  // An executable document that is no program goes to the opener.
  const fs::path document = tree.write("docs/report.pdf", "%PDF-1.4");
  fs::permissions(document, fs::perms::owner_all);
  ASSERT_TRUE(workspace.openFile(document.string())) << messages.joined();
  ASSERT_TRUE(appears(tree.path("opened")));
  EXPECT_EQ(tree.read("opened"), document.string() + "\n");
}

TEST_F(DesktopWorkspaceTest, FailuresAnswerFalseAndSayWhy) {
  DesktopWorkspace workspace(opener.string());
  EXPECT_FALSE(workspace.openFile(""));
  EXPECT_FALSE(workspace.openFile(tree.path("nothing here").string()));
  EXPECT_NE(messages.joined().find("No such file or directory"), std::string::npos)
      << messages.joined();

  DesktopWorkspace noOpener("kinetra-no-such-opener");
  EXPECT_FALSE(noOpener.openFile(tree.write("docs/x.txt", "x").string()));
  EXPECT_NE(messages.joined().find("kinetra-no-such-opener is not installed"), std::string::npos)
      << messages.joined();
  EXPECT_FALSE(fs::exists(tree.path("opened")));

  EXPECT_EQ(spawnDetached(tree.path("missing").string(), {"missing"}), ENOENT);
}

TEST_F(DesktopWorkspaceTest, FilesOpenWithAnApplicationFolder) {
  DesktopWorkspace workspace(opener.string());
  const fs::path application = tree.path("Applications/Acme Editor.app");
  tree.write("Applications/Acme Editor.app/Contents/Info.plist",
             "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>editor</string>"
             "</dict></plist>");
  writeScript(tree, "Applications/Acme Editor.app/Contents/Linux/editor",
              "printf '%s\\n' \"$@\" > \"" + tree.path("edited.tmp").string() + "\"\nmv \"" +
                  tree.path("edited.tmp").string() + "\" \"" + tree.path("edited").string() +
                  "\"\n");
  const fs::path document = tree.write("run/0a1b $(x).pr1", "<plist/>");
  ASSERT_TRUE(workspace.openFileWithApplication(document.string(), application.string()))
      << messages.joined();
  ASSERT_TRUE(appears(tree.path("edited")));
  EXPECT_EQ(tree.read("edited"), document.string() + "\n");
  EXPECT_FALSE(fs::exists(tree.path("opened"))) << "the opener is not involved";

  // A missing application, or one without a usable executable, is refused with a reason.
  EXPECT_FALSE(workspace.openFileWithApplication(document.string(),
                                                 tree.path("Applications/None.app").string()));
  EXPECT_NE(messages.joined().find("None.app: no such application"), std::string::npos)
      << messages.joined();
  tree.write("Applications/Acme Editor.app/Contents/Info.plist",
             "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>../../x</string>"
             "</dict></plist>");
  EXPECT_FALSE(workspace.openFileWithApplication(document.string(), application.string()));
  EXPECT_NE(messages.joined().find("names no executable"), std::string::npos);
}

TEST(Workspace, RecordingAndShared) {
  auto recording = std::make_shared<RecordingWorkspace>(false);
  Workspace::setShared(recording);
  EXPECT_FALSE(Workspace::shared()->openFile("/a/b c"));
  Workspace::setShared(nullptr);
  EXPECT_NE(Workspace::shared(), recording);
  EXPECT_EQ(recording->paths(), (std::vector<std::string>{"/a/b c"}));
  EXPECT_FALSE(recording->openFileWithApplication("/run/x.pr1", "/Apps/E.app"));
  EXPECT_EQ(
      recording->openedWithApplications(),
      (std::vector<RecordingWorkspace::OpenedWithApplication>{{"/run/x.pr1", "/Apps/E.app"}}));
}

}  // namespace
}  // namespace zv::output
