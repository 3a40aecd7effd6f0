#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/ReadFile.h"
#include "platform/Umask.h"
#include "testing/TemporaryTree.h"

namespace zv::platform {
namespace {

namespace fs = std::filesystem;

TEST(ReadFile, ReadsRegularFilesAndTheFilesLinksNameUnlessLinksAreRefused) {
  testing::TemporaryTree tree;
  tree.write("home/data", std::string("a\0b", 3));
  fs::create_symlink("data", tree.path("home/link"));
  EXPECT_EQ(readFile(tree.path("home/data")).valueOr(""), std::string("a\0b", 3));
  EXPECT_EQ(readFile(tree.path("home/link")).valueOr(""), std::string("a\0b", 3));
  EXPECT_EQ(readFile(tree.path("home/data"), 100, Links::refuse).valueOr(""),
            std::string("a\0b", 3));

  const auto linked = readFile(tree.path("home/link"), 100, Links::refuse);
  ASSERT_FALSE(linked);
  EXPECT_TRUE(linked.failure().is(base::kSystemDomain, ELOOP));
  const auto missing = readFile(tree.path("nothing"));
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.failure().is(base::kSystemDomain, ENOENT));
  EXPECT_EQ(missing.failure().message,
            "cannot read " + tree.path("nothing").string() + ": No such file or directory");
}

TEST(ReadFile, RefusesFilesOverTheLimit) {
  testing::TemporaryTree tree;
  tree.write("home/100", std::string(100, 'x'));
  tree.write("home/101", std::string(101, 'x'));
  const auto large = readFile(tree.path("home/101"), 100);
  ASSERT_FALSE(large);
  EXPECT_TRUE(large.failure().is(kReadFileDomain, kFileTooLarge));
  EXPECT_EQ(large.failure().message, "cannot read " + tree.path("home/101").string() +
                                         ": larger than 100 bytes, more than such a file can be");
  EXPECT_EQ(readFile(tree.path("home/100"), 100).valueOr("").size(), 100u);
  EXPECT_EQ(describeSize(std::size_t{16} << 20), "16 MiB");
  EXPECT_EQ(describeSize(2048), "2 KiB");
}

// A FIFO opened for reading waits for a writer, for ever if none comes. Should the
// reader block after all, a watchdog opens the FIFO for writing after a generous bound
// so that the test fails instead of hanging.
TEST(ReadFile, RefusesAFifoWithoutWaitingForAWriter) {
  testing::TemporaryTree tree;
  const auto fifo = tree.path("home/fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("fifo", tree.path("home/link"));

  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (done.wait_for(lock, std::chrono::seconds(20), [&] { return finished; })) return;
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  });
  const auto read = readFile(fifo);
  const auto readLink = readFile(tree.path("home/link"));
  {
    std::lock_guard lock(mutex);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  ASSERT_FALSE(read);
  EXPECT_TRUE(read.failure().is(kReadFileDomain, kNotARegularFile));
  EXPECT_EQ(read.failure().message,
            "cannot read " + fifo.string() + ": not a regular file (a FIFO)");
  ASSERT_FALSE(readLink);
  EXPECT_NE(readLink.failure().message.find("not a regular file (a FIFO)"), std::string::npos);
}

TEST(ReadFile, RefusesFoldersAndDevices) {
  testing::TemporaryTree tree;
  const auto folder = readFile(tree.path("home"));
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.failure().message,
            "cannot read " + tree.path("home").string() + ": not a regular file (a folder)");
  if (!fs::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero on this machine";
  const auto device = readFile("/dev/zero");
  ASSERT_FALSE(device);
  EXPECT_EQ(device.failure().message,
            "cannot read /dev/zero: not a regular file (a character device)");
}

TEST(ReadFile, ReadsAPipeUpToTheLimit) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "0123456789", 10), 10);
  ::close(fds[1]);
  const auto large = readAll(fds[0], "-", 9);
  ASSERT_FALSE(large);
  EXPECT_EQ(large.failure().message,
            "cannot read -: larger than 9 bytes, more than such a file can be");
  ::close(fds[0]);

  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "0123456789", 10), 10);
  ::close(fds[1]);
  EXPECT_EQ(readAll(fds[0], "-", 10).valueOr(""), "0123456789");
  ::close(fds[0]);
}

TEST(Umask, ReadsTheStatusLine) {
  EXPECT_EQ(umaskFromStatus("Name:\tx\nUmask:\t0022\nState:\tR\n"), mode_t{022});
  EXPECT_EQ(umaskFromStatus("Umask:\t0077"), mode_t{077});
  EXPECT_EQ(umaskFromStatus("Name:\tUmask:\t0022\n"), std::nullopt);
  EXPECT_EQ(umaskFromStatus("Umask:\t0089\n"), std::nullopt);
  EXPECT_EQ(umaskFromStatus("Umask:\t\n"), std::nullopt);
  EXPECT_EQ(umaskFromStatus(""), std::nullopt);

  const mode_t saved = ::umask(027);
  EXPECT_EQ(currentUmask(), mode_t{027});
  EXPECT_EQ(currentUmask(), mode_t{027});  // reading it did not change it
  ::umask(saved);
}

}  // namespace
}  // namespace zv::platform
