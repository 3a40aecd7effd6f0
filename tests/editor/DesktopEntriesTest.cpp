#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "DesktopEntries.h"
#include "testing/TemporaryTree.h"

namespace zv::editor {
namespace {

TEST(DesktopEntryParse, ReadsTheDesktopEntryGroupOnly) {
  const auto entry = parseDesktopEntry(
      "# comment\n"
      "[Desktop Action new]\nName=New Window\nExec=other\n"
      "[Desktop Entry]\r\nType=Application\r\nName=Web Browser\r\nName[de]=Webbrowser\r\n"
      "Icon=firefox-esr\r\nExec=/usr/lib/firefox-esr/firefox-esr %u\r\n"
      "[Other]\nName=Not this\n",
      "firefox-esr.desktop");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->id, "firefox-esr.desktop");
  EXPECT_EQ(entry->name, "Web Browser");
  EXPECT_EQ(entry->icon, "firefox-esr");
  EXPECT_EQ(entry->executable, "/usr/lib/firefox-esr/firefox-esr");
  EXPECT_FALSE(entry->noDisplay);
}

TEST(DesktopEntryParse, RefusesWhatIsNotAnApplicationAndMarksHiddenOnes) {
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Link\nName=x\nExec=x\n"));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Application\nExec=x\n"));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Application\nName=x\n"));
  EXPECT_FALSE(parseDesktopEntry("Type=Application\nName=x\nExec=x\n"));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Application\nName=x\nExec=\"broken\n"));
  EXPECT_FALSE(parseDesktopEntry(std::string("\0\xff[Desktop Entry\n=\n", 18)));
  auto hidden =
      parseDesktopEntry("[Desktop Entry]\nType=Application\nName=x\nExec=x\nHidden=true\n");
  ASSERT_TRUE(hidden);
  EXPECT_TRUE(hidden->noDisplay);
}

TEST(DesktopEntryParse, UndoesTheQuotingOfExec) {
  EXPECT_EQ(execProgram("gimp-2.10 %U"), "gimp-2.10");
  EXPECT_EQ(execProgram("  \"/opt/My App/run\" --x"), "/opt/My App/run");
  EXPECT_EQ(execProgram(R"("/opt/a \"b\"/run")"), "/opt/a \"b\"/run");
  EXPECT_EQ(execProgram("\"unterminated"), "");
  EXPECT_EQ(execProgram(""), "");
  // String escapes of the value come first: \s is a space.
  auto entry =
      parseDesktopEntry("[Desktop Entry]\nType=Application\nName=x\nExec=\"/a\\sb/c\" y\n");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->executable, "/a b/c");
}

class InstalledApplicationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* names[] = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "PATH"};
    for (int i = 0; i < 3; ++i) {
      if (const char* value = getenv(names[i])) saved_[i] = value;
    }
    setenv("XDG_DATA_HOME", tree.path("user").c_str(), 1);
    setenv("XDG_DATA_DIRS",
           (tree.path("system").string() + ":" + tree.path("none").string()).c_str(), 1);
    setenv("PATH", tree.path("bin").c_str(), 1);
    for (const char* program : {"zed", "alpha", "beta"}) {
      const auto path = tree.write(std::string("bin/") + program, "#!/bin/sh\n");
      ::chmod(path.c_str(), 0755);
    }
    tree.write("bin/not-executable", "x");
  }
  void TearDown() override {
    const char* names[] = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "PATH"};
    for (int i = 0; i < 3; ++i) {
      if (saved_[i])
        setenv(names[i], saved_[i]->c_str(), 1);
      else
        unsetenv(names[i]);
    }
  }
  static std::string entry(const std::string& name, const std::string& exec) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\nIcon=i\n";
  }

  zv::testing::TemporaryTree tree;
  std::optional<std::string> saved_[3];
};

TEST_F(InstalledApplicationsTest, ListsInstalledProgramsByNameWithTheUsersEntriesFirst) {
  tree.write("system/applications/zed.desktop", entry("Zed", "zed %F"));
  tree.write("system/applications/alpha.desktop", entry("alpha", "alpha"));
  tree.write("user/applications/alpha.desktop", entry("Alpha (mine)", "alpha --mine"));
  tree.write("system/applications/kde/beta.desktop", entry("Beta", "beta"));
  tree.write("system/applications/gone.desktop", entry("Gone", "not-installed"));
  tree.write("system/applications/plain.desktop", entry("Plain", "not-executable"));
  tree.write("system/applications/zz-twice.desktop",
             entry("Zed again", tree.path("bin/zed").string()));

  const auto applications = installedApplications();
  std::vector<std::string> names;
  for (const auto& application : applications) names.push_back(application.entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha (mine)", "Beta", "Zed"}));
  EXPECT_EQ(applications[1].entry.id, "kde-beta.desktop");
  EXPECT_EQ(applications[2].executablePath, tree.path("bin/zed"));

  const auto found = applicationForExecutable(tree.path("bin/zed"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->entry.name, "Zed");
  EXPECT_FALSE(applicationForExecutable(tree.path("bin/not-executable")));
  EXPECT_FALSE(findExecutable("not-executable"));
  EXPECT_FALSE(findExecutable("relative/path"));
}

}  // namespace
}  // namespace zv::editor
