// Who may stand between "/" and the driver's socket: a folder on the way that another
// user owns or may write, or their symbolic link, makes the daemon refuse to serve and a
// client run as root refuse to trust. And refused clients cannot flood the log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "DaemonHarness.h"
#include "daemon/RefusalLog.h"
#include "protocol/TrustedFolder.h"

namespace zv::driver::testing {
namespace {

namespace fs = std::filesystem;
using namespace userclient;

constexpr uid_t kUser = 65534;

struct Layout {
  const char* name;
  // Builds the way to the services folder under `root`; answers the folder's path.
  std::function<std::string(const std::string& root)> build;
  const char* culprit;  // the component named, relative to root; "" when trusted
};

std::string made(const std::string& path, mode_t mode, uid_t owner = 0) {
  fs::create_directories(path);
  EXPECT_EQ(::chmod(path.c_str(), mode), 0);
  EXPECT_EQ(::chown(path.c_str(), owner, owner), 0);
  return path;
}

const Layout kLayouts[] = {
    {"RootAllTheWay", [](const std::string& r) { return made(r + "/run/services", 0755); }, ""},
    {"StickyLikeTmp",
     [](const std::string& r) {
       made(r + "/tmp", 01777);
       return made(r + "/tmp/services", 0755);
     },
     ""},
    {"ParentOfAUser",
     [](const std::string& r) {
       made(r + "/home", 0755, kUser);
       return made(r + "/home/services", 0755);
     },
     "/home"},
    {"WritableByTheGroup",
     [](const std::string& r) {
       made(r + "/shared", 0775);
       return made(r + "/shared/services", 0755);
     },
     "/shared"},
    {"LinkOfAUser",
     [](const std::string& r) {
       made(r + "/real/services", 0755);
       fs::create_symlink(r + "/real", r + "/link");
       EXPECT_EQ(::lchown((r + "/link").c_str(), kUser, kUser), 0);
       return r + "/link/services";
     },
     "/link"},
};

void PrintTo(const Layout& layout, std::ostream* os) {
  *os << layout.name;
}

class ServicesFolder : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give folders to another user";
  }
  ScratchFolder scratch;
};

TEST_P(ServicesFolder, EveryComponentFromTheRootIsChecked) {
  const std::string folder = GetParam().build(scratch.path());
  const auto problem = untrustedFolderComponent(folder, 0);
  if (*GetParam().culprit == '\0') {
    EXPECT_FALSE(problem) << *problem;
    return;
  }
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find("component " + scratch.path() + GetParam().culprit + " "),
            std::string::npos)
      << *problem;

  // A client run as root does not trust a socket there.
  UserClientConnection client;
  std::string error;
  EXPECT_EQ(client.open(folder + "/com_Zenvor_driver_usb_Skarn@x", &error), kReturnNotPrivileged);
  EXPECT_NE(error.find(GetParam().culprit), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Layouts, ServicesFolder, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServicesFolderOfTheDaemon, AFolderOfAnotherUserIsRefusedNamingIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give folders to another user";
  DaemonHarness d({.start = false});
  ASSERT_EQ(::chown(d.servicesFolder().c_str(), kUser, kUser), 0);
  std::string error;
  EXPECT_FALSE(d.start(&error));
  EXPECT_NE(error.find("component " + d.servicesFolder() + " belongs to uid 65534"),
            std::string::npos)
      << error;
}

TEST(RefusalLog, OneLinePerUserAndIntervalWithTheCount) {
  RefusalLog log;
  const auto start = RefusalLog::TimePoint{};
  int lines = 0;
  for (int i = 0; i < 20'000; ++i) {
    if (log.refused(kUser, 100 + i, "not the active user of seat0", start)) ++lines;
  }
  EXPECT_EQ(lines, 1);
  EXPECT_TRUE(log.refused(1001, 7, "not the active user of seat0", start)) << "another user";
  const auto later =
      log.refused(kUser, 5, "not the active user of seat0", start + RefusalLog::kInterval);
  ASSERT_TRUE(later);
  EXPECT_EQ(*later,
            "refused a client: uid 65534 (pid 5) is not the active user of seat0 (and 19999 "
            "more of uid 65534 since the last line)\n");
}

}  // namespace
}  // namespace zv::driver::testing
