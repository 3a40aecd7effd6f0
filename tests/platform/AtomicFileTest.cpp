#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "platform/AtomicFile.h"
#include "testing/TemporaryTree.h"

namespace zv::platform {
namespace {

namespace fs = std::filesystem;

std::size_t entriesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST(AtomicFile, WritesReplacesAndKeepsPermissions) {
  testing::TemporaryTree tree;
  const auto file = tree.path("home/profile.pr0");
  ASSERT_TRUE(writeFileAtomically(file, "first", 0600));
  EXPECT_EQ(tree.read("home/profile.pr0"), "first");
  EXPECT_EQ(modeOf(file), 0600u);

  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(writeFileAtomically(file, "second"));
  EXPECT_EQ(tree.read("home/profile.pr0"), "second");
  EXPECT_EQ(modeOf(file), 0640u);
  // No temporary file is left beside it.
  EXPECT_EQ(entriesIn(tree.path("home")), 1u);
}

TEST(AtomicFile, NewFilesTakeTheUmaskWithoutChangingIt) {
  testing::TemporaryTree tree;
  const mode_t saved = ::umask(027);
  ASSERT_TRUE(writeFileAtomically(tree.path("home/new"), "x", 0666));
  EXPECT_EQ(modeOf(tree.path("home/new")), 0640u);
  EXPECT_EQ(::umask(saved), 027u);
}

TEST(AtomicFile, FailureLeavesTheTargetAndNamesThePath) {
  testing::TemporaryTree tree;
  const auto missing = writeFileAtomically(tree.path("missing/folder/x"), "bytes");
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.failure().is(base::kSystemDomain, ENOENT));
  EXPECT_NE(missing.failure().message.find("missing/folder/x"), std::string::npos);

  // A folder standing where the file should go cannot be replaced.
  fs::create_directories(tree.path("home/taken"));
  tree.write("home/taken/inside", "keep");
  const auto taken = writeFileAtomically(tree.path("home/taken"), "bytes");
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.failure().message, "cannot write " + tree.path("home/taken").string() +
                                         ": it is a folder, not a regular file");
  EXPECT_EQ(tree.read("home/taken/inside"), "keep");
}

// Dotfile managers keep the real file elsewhere and link to it: a save must reach the
// real file and leave the link in place.
TEST(AtomicFile, WritesThroughSymbolicLinksToTheirFinalTarget) {
  testing::TemporaryTree tree;
  const auto real = tree.write("dotfiles/prefs.plist", "old");
  ::chmod(real.c_str(), 0604);
  fs::create_symlink("../dotfiles/prefs.plist", tree.path("home/middle"));
  fs::create_symlink("middle", tree.path("home/prefs.plist"));

  const auto written = writeFileAtomically(tree.path("home/prefs.plist"), "new");
  ASSERT_TRUE(written) << written.failure().message;
  EXPECT_TRUE(fs::is_symlink(tree.path("home/prefs.plist")));
  EXPECT_TRUE(fs::is_symlink(tree.path("home/middle")));
  EXPECT_EQ(tree.read("dotfiles/prefs.plist"), "new");
  EXPECT_EQ(modeOf(real), 0604u);
  // The temporary file went beside the target, and is gone.
  EXPECT_EQ(entriesIn(tree.path("dotfiles")), 1u);
  EXPECT_EQ(entriesIn(tree.path("home")), 2u);
}

TEST(AtomicFile, RefusesWhatIsNotARegularFileAndLeavesItAlone) {
  testing::TemporaryTree tree;
  const auto fifo = tree.path("home/fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("fifo", tree.path("home/to-fifo"));
  fs::create_symlink("nothing-here", tree.path("home/dangling"));
  fs::create_directories(tree.path("home/folder"));
  fs::create_symlink("folder", tree.path("home/to-folder"));

  const std::pair<const char*, const char*> cases[] = {
      {"home/fifo", "it is a FIFO, not a regular file"},
      {"home/to-fifo", "it is a symbolic link to a FIFO"},
      {"home/dangling", "it is a symbolic link to nothing (its target is missing)"},
      {"home/to-folder", "it is a symbolic link to a folder"},
  };
  for (const auto& [name, reason] : cases) {
    const auto written = writeFileAtomically(tree.path(name), "bytes");
    ASSERT_FALSE(written) << name;
    EXPECT_TRUE(written.failure().is(kAtomicFileDomain, kNotARegularTarget)) << name;
    EXPECT_EQ(written.failure().message,
              "cannot write " + tree.path(name).string() + ": " + reason);
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_symlink(tree.path("home/to-fifo")));
  EXPECT_TRUE(fs::is_symlink(tree.path("home/dangling")));
  EXPECT_FALSE(fs::exists(tree.path("home/nothing-here")));
  EXPECT_TRUE(fs::is_empty(tree.path("home/folder")));
  EXPECT_EQ(entriesIn(tree.path("home")), 5u);
}

TEST(AtomicFile, KeepsTheOwnerOfAnotherUsersFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  testing::TemporaryTree tree;
  const auto file = tree.write("home/theirs", "old");
  ASSERT_EQ(::chown(file.c_str(), 4321, 8765), 0);
  ASSERT_TRUE(writeFileAtomically(file, "new"));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 4321u);
  EXPECT_EQ(info.st_gid, 8765u);
  EXPECT_EQ(tree.read("home/theirs"), "new");
}

}  // namespace
}  // namespace zv::platform
