#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "testing/TemporaryTree.h"

namespace zv::platform {
namespace {

TEST(AtomicFile, WritesReplacesAndKeepsPermissions) {
  testing::TemporaryTree tree;
  const auto file = tree.path("home/profile.pr0");
  ASSERT_TRUE(writeFileAtomically(file, "first", nullptr, 0600));
  EXPECT_EQ(tree.read("home/profile.pr0"), "first");
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(writeFileAtomically(file, "second"));
  EXPECT_EQ(tree.read("home/profile.pr0"), "second");
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.path("home")),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(AtomicFile, FailureLeavesTheTargetAndNamesThePath) {
  testing::TemporaryTree tree;
  std::string error;
  EXPECT_FALSE(writeFileAtomically(tree.path("missing/folder/x"), "bytes", &error));
  EXPECT_NE(error.find("missing/folder/x"), std::string::npos) << error;

  // A folder standing where the file should go cannot be replaced.
  std::filesystem::create_directories(tree.path("home/taken"));
  tree.write("home/taken/inside", "keep");
  EXPECT_FALSE(writeFileAtomically(tree.path("home/taken"), "bytes", &error));
  EXPECT_EQ(tree.read("home/taken/inside"), "keep");

  std::string bytes;
  EXPECT_FALSE(readFile(tree.path("nothing"), bytes, &error));
  EXPECT_NE(error.find("nothing"), std::string::npos);
  tree.write("home/data", std::string("a\0b", 3));
  ASSERT_TRUE(readFile(tree.path("home/data"), bytes));
  EXPECT_EQ(bytes, std::string("a\0b", 3));
}

}  // namespace
}  // namespace zv::platform
