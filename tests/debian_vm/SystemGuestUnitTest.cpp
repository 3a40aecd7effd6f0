// The parts of the installation test's guest program that need no machine: reading /proc,
// following a growing file, comparing a user's files, running commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Commands.h"
#include "FileFollower.h"
#include "Processes.h"
#include "UserFiles.h"
#include "testing/TemporaryTree.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using zv::testing::TemporaryTree;

std::string status(const std::string& name, const std::string& state, const std::string& rss) {
  return "Name:\t" + name + "\nUmask:\t0022\nState:\t" + state +
         "\nUid:\t1000\t1000\t1000\t1000\n" + (rss.empty() ? "" : "VmRSS:\t  " + rss + " kB\n");
}

// A /proc with the agent, a zombie of it, a driver, a kernel thread and a non-process entry.
TEST(Processes, FindsLiveProcessesByNameAndReadsTheirFigures) {
  TemporaryTree proc(TemporaryTree::Roots::kept);
  proc.write("412/status", status("perch", "S (sleeping)", "20480"));
  proc.write("412/fd/0", "");
  proc.write("412/fd/1", "");
  proc.write("77/status", status("perch", "Z (zombie)", ""));
  proc.write("90/status", status("zenvor-driver", "R (running)", "5120"));
  proc.write("2/status", status("kthreadd", "S (sleeping)", ""));
  proc.write("self/status", status("perch", "R (running)", "1"));
  const std::string root = proc.root().string();

  const auto agents = processesNamed("perch", root);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].pid, 412);
  EXPECT_EQ(agents[0].uid, 1000u);
  EXPECT_EQ(processesNamed("zenvor-driver", root).size(), 1u);
  EXPECT_TRUE(processesNamed("zenvor", root).empty());  // whole names only

  EXPECT_EQ(residentKiB(412, root), 20480u);
  EXPECT_FALSE(residentKiB(2, root).has_value());    // kernel threads have no VmRSS
  EXPECT_FALSE(residentKiB(999, root).has_value());  // gone
  EXPECT_EQ(openDescriptors(412, root), 2u);
  EXPECT_FALSE(openDescriptors(999, root).has_value());
  EXPECT_EQ(statusField("Name:\tperch\nVmRSS:   12 kB\n", "VmRSS"), "12 kB");
  EXPECT_EQ(statusField("Name:\tperch\n", "VmRSS"), "");
}

TEST(FileFollower, WaitsForLinesInOrderAfterTheMark) {
  EXPECT_TRUE(linesInOrder("device a connected\nevent 0x90004 0\n", {" connected", "event"}));
  EXPECT_FALSE(linesInOrder("event 0x90004 0\ndevice a connected\n", {" connected", "event"}));
  // Both parts in one line count once: the second part must come in a later line.
  EXPECT_FALSE(linesInOrder("device connected event\n", {"connected", "event"}));
  EXPECT_FALSE(linesInOrder("device a disconnected\nevent 0x90004 0\n", {" connected", "event"}));

  TemporaryTree tree(TemporaryTree::Roots::kept);
  FileFollower record(tree.path("record").string());
  EXPECT_EQ(record.sinceMark(), "");  // no file yet
  tree.write("record", "device a connected\nevent 0x90004 0\n");
  EXPECT_TRUE(record.waitForInOrder({" connected", "event 0x90004 0"}, 0ms));
  record.mark();
  EXPECT_FALSE(record.waitForInOrder({" connected"}, 0ms));  // only what came before the mark
  std::ofstream(tree.path("record"), std::ios::app) << "device a connected\n";
  EXPECT_EQ(record.sinceMark(), "device a connected\n");
  // A file started anew, shorter than the mark, is read from its beginning.
  tree.write("record", "event 1\n");
  EXPECT_EQ(record.sinceMark(), "event 1\n");
  // So is one started anew that has already grown past the mark: its first line differs.
  std::ofstream(tree.path("record"), std::ios::app) << std::string(40, '.') << '\n';
  record.mark();
  tree.write("record", "[2.0] profile\ndevice a connected\nevent 0x90004 0\nevent 0x90004 1\n");
  EXPECT_TRUE(record.waitForInOrder({" connected", "event 0x90004 0"}, 0ms));
}

TEST(UserFiles, ReportsTheFirstFileLostOrChangedButNotNewOnes) {
  TemporaryTree home(TemporaryTree::Roots::kept);
  home.write(".local/share/Kinetra/Profiles/Untitled1.xml", "<profile/>");
  home.write(".config/com.zenvor.Kinetra.BRAND.plist", "<plist/>");
  home.write(".cache/thumbnails/a", "x");
  home.write(".config/systemd/user/perch.service.d/record.conf", "[Service]");
  fs::create_symlink("Untitled1.xml", home.path(".local/share/Kinetra/Profiles/current"));
  const FileContents before = userFiles(home.root().string());
  EXPECT_EQ(before.size(), 3u);  // caches and systemd units left out
  EXPECT_EQ(before.at(".local/share/Kinetra/Profiles/current"), "-> Untitled1.xml");

  home.write(".local/share/Kinetra/Profiles/Untitled2.xml", "<profile/>");
  home.write(".cache/thumbnails/a", "y");
  EXPECT_EQ(firstLost(before, userFiles(home.root().string())), "");
  home.write(".config/com.zenvor.Kinetra.BRAND.plist", "<plist></plist>");
  EXPECT_EQ(firstLost(before, userFiles(home.root().string())),
            "changed: .config/com.zenvor.Kinetra.BRAND.plist");
  fs::remove(home.path(".local/share/Kinetra/Profiles/Untitled1.xml"));
  EXPECT_EQ(firstLost(before, userFiles(home.root().string())),
            "changed: .config/com.zenvor.Kinetra.BRAND.plist");
  EXPECT_EQ(firstLost(before, {}), "gone: .config/com.zenvor.Kinetra.BRAND.plist");
}

TEST(Commands, KeepOutputAndStatusAndKillWhatOutlivesItsBound) {
  const auto done = runCommand({"sh", "-c", "echo out; echo err >&2; exit 3"}, 10s);
  EXPECT_TRUE(done.finished);
  EXPECT_EQ(done.status, 3);
  EXPECT_EQ(done.output, "out\nerr\n");
  EXPECT_FALSE(done.ok());
  EXPECT_NE(done.describe({"sh"}).find("exited with status 3"), std::string::npos);

  const auto stuck = runCommand({"sh", "-c", "echo started; exec sleep 600"}, 0ms);
  EXPECT_FALSE(stuck.finished);
  EXPECT_NE(stuck.describe({"sh"}).find("did not end within its bound"), std::string::npos);

  const auto argv = asUser(kVisitor, {"id", "-u"});
  EXPECT_EQ(argv.front(), "/usr/bin/setpriv");
  EXPECT_EQ(argv[argv.size() - 2], "/usr/bin/id");  // resolved: setpriv runs no PATH search
}

}  // namespace
}  // namespace zv::vmtest
