#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "profile/ProfileControllersCache.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "testing/TemporaryTree.h"

namespace zv::profile {
namespace {

namespace fs = std::filesystem;
using Controllers = ProfileControllersCache::Controllers;

const fs::path kData = fs::path(ZV_SOURCE_DIR) / "data";

json::DictionaryPtr prototype() {
  std::string error;
  auto dictionary = readPrototypeFile(kData / "tevnodes.prototype", &error);
  EXPECT_TRUE(dictionary) << error;
  return dictionary;
}

std::string profileFor(const std::string& first, const std::string& second) {
  return encodeProfileText(" [profile=Mine\r\n  [controller=" + first +
                           "]\r\n  [controller=" + second + "]]");
}

// Rewrites the file in place (same inode) and gives it back its old modification time.
void rewriteKeepingTime(const fs::path& path, const std::string& bytes) {
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void moveTimeForward(const fs::path& path) {
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  timespec times[2] = {info.st_atim, info.st_mtim};
  times[1].tv_sec += 1;
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class ProfileControllersCacheTest : public ::testing::Test {
 protected:
  ProfileControllersCacheTest()
      : cache(prototype(), [this](std::chrono::milliseconds time) {
          EXPECT_EQ(time, ProfileControllersCache::kSettleTime);
          ++conversions;
          if (duringPause) duringPause();
        }) {}

  testing::TemporaryTree tree;
  int conversions = 0;  // every read of a recently changed file is followed by one pause
  std::function<void()> duringPause;
  ProfileControllersCache cache;
};

TEST_F(ProfileControllersCacheTest, DemoProfilesServeTheDemoMouse) {
  for (const char* name : {"Seed.pr0", "Default.pr0"}) {
    const fs::path path = kData / "Devices/DemoMouse.bundle/Contents/Resources" / name;
    EXPECT_EQ(cache.controllersInFile(path), Controllers{"DemoMouse"}) << name;
    EXPECT_TRUE(cache.isProfileAtPath(path, "DemoMouse")) << name;
    EXPECT_FALSE(cache.isProfileAtPath(path, "Demo")) << name;
    EXPECT_FALSE(cache.isProfileAtPath(path, "")) << name;
  }
}

TEST_F(ProfileControllersCacheTest, AFileQuietForLongNeedsNoPause) {
  const fs::path path = tree.write("profiles/Old.pr0", profileFor("Old", "Zed"));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  timespec times[2] = {info.st_atim, info.st_mtim};
  times[1].tv_sec -= 3600;
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(cache.controllersInFile(path), (Controllers{"Old", "Zed"}));
  EXPECT_EQ(conversions, 0) << "nobody has written it for an hour";
}

TEST_F(ProfileControllersCacheTest, AnswersAreKeptUntilTheFileChanges) {
  const fs::path path = tree.write("profiles/Mine.pr0", profileFor("AAAA", "Zed"));
  EXPECT_EQ(cache.controllersInFile(path), (Controllers{"AAAA", "Zed"}));
  EXPECT_EQ(conversions, 1);

  // Same stamp: answered from the cache, without reading (the new content is not seen).
  rewriteKeepingTime(path, profileFor("BBBB", "Zed"));
  EXPECT_EQ(cache.controllersInFile(path), (Controllers{"AAAA", "Zed"}));
  EXPECT_TRUE(cache.isProfileAtPath(path, "AAAA"));
  EXPECT_EQ(conversions, 1);

  // A new modification time, a new size or a replaced file: read again.
  moveTimeForward(path);
  EXPECT_EQ(cache.controllersInFile(path), (Controllers{"BBBB", "Zed"}));
  EXPECT_EQ(conversions, 2);
  rewriteKeepingTime(path, profileFor("CCCCCC", "Zed"));
  EXPECT_EQ(cache.controllersInFile(path), (Controllers{"CCCCCC", "Zed"}));
  EXPECT_EQ(conversions, 3);
  const fs::path other = tree.write("profiles/Other.pr0", profileFor("DDDDDD", "Zed"));
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  fs::rename(other, path);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(cache.controllersInFile(path), (Controllers{"DDDDDD", "Zed"}));
  EXPECT_EQ(conversions, 4);
  EXPECT_EQ(cache.size(), 1u);

  // A deleted file answers none and leaves no entry behind.
  fs::remove(path);
  EXPECT_EQ(cache.controllersInFile(path), std::nullopt);
  EXPECT_FALSE(cache.isProfileAtPath(path, "DDDDDD"));
  EXPECT_EQ(cache.size(), 0u);
}

TEST_F(ProfileControllersCacheTest, FilesThatAreNoProfilesAnswerNone) {
  const std::string good = profileFor("AAAA", "Zed");
  for (const char* name :
       {"profiles/Mine.txt", "profiles/Mine.pr0.bak", "profiles/Mine.PR0", "profiles/.pr0"}) {
    EXPECT_EQ(cache.controllersInFile(tree.write(name, good)), std::nullopt) << name;
  }
  fs::create_directories(tree.path("profiles/Folder.pr0"));
  EXPECT_EQ(cache.controllersInFile(tree.path("profiles/Folder.pr0")), std::nullopt);
  EXPECT_EQ(conversions, 0) << "nothing above is read";

  // Damaged: none, remembered until the file changes.
  const fs::path damaged = tree.write("profiles/Damaged.pr0", encodeProfileText("[profile=X [a]"));
  EXPECT_EQ(cache.controllersInFile(damaged), std::nullopt);
  EXPECT_EQ(cache.controllersInFile(damaged), std::nullopt);
  EXPECT_EQ(conversions, 1);
  EXPECT_FALSE(cache.isProfileAtPath(damaged, "X"));
  std::ofstream(damaged, std::ios::binary | std::ios::trunc) << profileFor("Fixed", "Zed");
  moveTimeForward(damaged);
  EXPECT_EQ(cache.controllersInFile(damaged), (Controllers{"Fixed", "Zed"}));

  // Not text at all, and a profile naming no controller.
  EXPECT_EQ(cache.controllersInFile(tree.write("profiles/Bytes.pr0", "\xFF\xFE\x00\xD8")),
            std::nullopt);
  EXPECT_EQ(
      cache.controllersInFile(tree.write("profiles/Empty.pr0", encodeProfileText("[profile=E]"))),
      Controllers{});

  // Without a prototype nothing converts.
  ProfileControllersCache bare(nullptr, [](std::chrono::milliseconds) {});
  EXPECT_EQ(bare.controllersInFile(tree.write("profiles/Mine.pr0", good)), std::nullopt);
}

TEST_F(ProfileControllersCacheTest, AFileWrittenDuringThePauseIsReadAgain) {
  const fs::path path = tree.write("profiles/Mine.pr0", profileFor("Half", "Zed"));
  duringPause = [&] {
    duringPause = nullptr;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << profileFor("Whole", "Zed");
    moveTimeForward(path);
  };
  EXPECT_EQ(cache.controllersInFile(path), (Controllers{"Whole", "Zed"}));
  EXPECT_EQ(cache.controllersInFile(path), (Controllers{"Whole", "Zed"}));
  EXPECT_EQ(conversions, 1);

  // A file that disappears during the pause answers none.
  moveTimeForward(path);
  duringPause = [&] { fs::remove(path); };
  EXPECT_EQ(cache.controllersInFile(path), std::nullopt);
  EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace zv::profile
