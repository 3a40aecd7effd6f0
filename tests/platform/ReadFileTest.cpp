#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/ReadFile.h"
#include "platform/Umask.h"
#include "testing/TemporaryTree.h"

namespace zv::platform {
namespace {

namespace fs = std::filesystem;

TEST(ReadFile, ReadsRegularFilesAndTheFilesLinksName) {
  testing::TemporaryTree tree;
  tree.write("home/data", std::string("a\0b", 3));
  fs::create_symlink("data", tree.path("home/link"));
  std::string bytes;
  ASSERT_TRUE(readFile(tree.path("home/data"), bytes));
  EXPECT_EQ(bytes, std::string("a\0b", 3));
  bytes.clear();
  ASSERT_TRUE(readFile(tree.path("home/link"), bytes));
  EXPECT_EQ(bytes, std::string("a\0b", 3));

  std::string error;
  EXPECT_FALSE(readFile(tree.path("nothing"), bytes, &error));
  EXPECT_EQ(error, "cannot read " + tree.path("nothing").string() + ": No such file or directory");
}

TEST(ReadFile, RefusesFilesOverTheLimitAndKeepsTheBytesGiven) {
  testing::TemporaryTree tree;
  tree.write("home/100", std::string(100, 'x'));
  tree.write("home/101", std::string(101, 'x'));
  std::string bytes = "untouched";
  std::string error;
  EXPECT_FALSE(readFile(tree.path("home/101"), bytes, &error, 100));
  EXPECT_EQ(error, "cannot read " + tree.path("home/101").string() +
                       ": larger than 100 bytes, more than such a file can be");
  EXPECT_EQ(bytes, "untouched");
  ASSERT_TRUE(readFile(tree.path("home/100"), bytes, &error, 100));
  EXPECT_EQ(bytes.size(), 100u);
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
  std::string bytes;
  std::string error;
  const bool read = readFile(fifo, bytes, &error);
  std::string linkError;
  const bool readLink = readFile(tree.path("home/link"), bytes, &linkError);
  {
    std::lock_guard lock(mutex);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  EXPECT_FALSE(read);
  EXPECT_EQ(error, "cannot read " + fifo.string() + ": not a regular file (a FIFO)");
  EXPECT_FALSE(readLink);
  EXPECT_NE(linkError.find("not a regular file (a FIFO)"), std::string::npos) << linkError;
}

TEST(ReadFile, RefusesFoldersAndDevices) {
  testing::TemporaryTree tree;
  std::string bytes;
  std::string error;
  EXPECT_FALSE(readFile(tree.path("home"), bytes, &error));
  EXPECT_EQ(error, "cannot read " + tree.path("home").string() + ": not a regular file (a folder)");
  if (!fs::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero on this machine";
  EXPECT_FALSE(readFile("/dev/zero", bytes, &error));
  EXPECT_EQ(error, "cannot read /dev/zero: not a regular file (a character device)");
}

TEST(ReadFile, ReadsAPipeUpToTheLimit) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "0123456789", 10), 10);
  ::close(fds[1]);
  std::string bytes;
  std::string error;
  EXPECT_FALSE(readAll(fds[0], "-", bytes, 9, &error));
  EXPECT_EQ(error, "cannot read -: larger than 9 bytes, more than such a file can be");
  ::close(fds[0]);

  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "0123456789", 10), 10);
  ::close(fds[1]);
  ASSERT_TRUE(readAll(fds[0], "-", bytes, 10, &error));
  EXPECT_EQ(bytes, "0123456789");
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
