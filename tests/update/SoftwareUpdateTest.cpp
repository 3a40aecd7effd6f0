// ZVSoftwareUpdate against a real HTTPS server on the loopback interface, driven by the
// main run loop as the editor drives it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "device/DeviceController.h"
#include "platform/RunLoop.h"
#include "testing/TemporaryTree.h"
#include "update/ZVSoftwareUpdate.h"

namespace zv::update {
namespace {

using namespace std::chrono_literals;
using Behaviour = testing::LoopbackServer::Behaviour;
using Route = testing::LoopbackServer::Route;
using platform::RunLoop;

constexpr auto kPatience = 20'000ms;  // only a hung transfer reaches it
const std::string kCache = "home/.local/share/Kinetra/.installerCache/Zenvor Demo Mouse/";

struct Recorder : ZVSoftwareUpdateDelegate {
  void softwareUpdateNewVersionAvailable(ZVSoftwareUpdate&, const std::string& version) override {
    events.push_back("available " + version);
  }
  void softwareUpdateDownloadProgress(ZVSoftwareUpdate&, int percentage) override {
    progress.push_back(percentage);
  }
  void softwareUpdateDownloadComplete(ZVSoftwareUpdate&) override { events.push_back("complete"); }
  void softwareUpdateCheckComplete(ZVSoftwareUpdate&) override { events.push_back("checked"); }
  void softwareUpdateFailed(ZVSoftwareUpdate&, const std::string& message) override {
    events.push_back("failed");
    failure = message;
  }
  std::vector<std::string> events;
  std::vector<int> progress;
  std::string failure;
};

struct RecordingInstaller : PackageInstaller {
  bool install(const std::filesystem::path& package, std::string*) override {
    installed.push_back(package);
    return true;
  }
  std::vector<std::filesystem::path> installed;
};

class SoftwareUpdateTest : public ::testing::Test {
 protected:
  std::shared_ptr<device::DeviceController> makeDevice(const std::string& installed,
                                                       const std::string& updateURL = {}) {
    auto description = json::makeDictionary();
    description->set("Alias", json::Value("DemoMouse"));
    description->set("Name", json::Value("Zenvor Demo Mouse"));
    description->set("VendorID", json::Value(0x5A56));
    description->set("ProductID", json::Value(0x1704));
    description->set("CFBundleVersion", json::Value(installed));
    if (!updateURL.empty()) description->set("SoftwareUpdateURL", json::Value(updateURL));
    return std::make_shared<device::DeviceController>(description, tree.path("Demo.bundle"));
  }

  std::unique_ptr<ZVSoftwareUpdate> makeUpdater(const std::string& installed,
                                                const std::string& updateURL,
                                                ZVSoftwareUpdateOptions options = {}) {
    options.connection.certificateAuthorities = server.certificateFile();
    options.installer = installer;
    return std::make_unique<ZVSoftwareUpdate>(makeDevice(installed, updateURL), &recorder, options);
  }

  bool waitFor(const std::function<bool()>& condition) {
    return RunLoop::main().runUntil(condition, kPatience);
  }
  bool waitUntilIdle(ZVSoftwareUpdate& updater) {
    return waitFor([&] { return !updater.isBusy(); });
  }

  std::filesystem::path cache() const { return tree.path(kCache); }

  testing::TemporaryTree tree;
  testing::LoopbackServer server{tree.root()};
  Recorder recorder;
  std::shared_ptr<RecordingInstaller> installer = std::make_shared<RecordingInstaller>();
};

const std::string kList =
    "5a56,1704,1.4,PACKAGE\n"
    "5a56,9999,9.0,https://127.0.0.1:1/other-product.deb\n";

std::string listFor(const testing::LoopbackServer& server) {
  std::string list = kList;
  list.replace(list.find("PACKAGE"), 7, server.url("/kinetra_1.4.deb"));
  return list;
}

TEST_F(SoftwareUpdateTest, ChecksDownloadsAndInstallsThroughThePackageTool) {
  const std::string package(200'000, 'p');
  server.route("/list", {200, listFor(server)});
  server.route("/kinetra_1.4.deb", {200, package});
  auto updater = makeUpdater("1.3", server.url("/list"));

  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(waitUntilIdle(*updater));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"available 1.4", "checked"}));
  EXPECT_EQ(updater->availableVersion(), "1.4");

  std::string error;
  ASSERT_TRUE(updater->download(&error)) << error;
  ASSERT_TRUE(waitUntilIdle(*updater));
  EXPECT_EQ(recorder.events.back(), "complete") << recorder.failure;
  ASSERT_FALSE(recorder.progress.empty());
  EXPECT_TRUE(std::is_sorted(recorder.progress.begin(), recorder.progress.end()));
  EXPECT_EQ(recorder.progress.back(), 100);
  EXPECT_EQ(updater->downloadPercentage(), 100);
  EXPECT_EQ(updater->packageFilePath(), cache() / "1.4.deb");
  EXPECT_TRUE(tree.read(kCache + "1.4.deb") == package);

  ASSERT_TRUE(updater->install(&error)) << error;
  EXPECT_EQ(installer->installed, (std::vector<std::filesystem::path>{cache() / "1.4.deb"}));
}

TEST_F(SoftwareUpdateTest, ACachedPackageIsOfferedOnlyWhileNewerThanTheInstalledVersion) {
  tree.write(kCache + "1.5.deb", "package");
  // A partial file of an interrupted save and a stray file are never offered.
  tree.write(kCache + "1.0.deb.a8Xk2q", "part");
  tree.write(kCache + "0.9.txt", "notes");
  {
    auto updater = makeUpdater("1.3", server.url("/list"));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"complete"}));
    EXPECT_EQ(updater->availableVersion(), "1.5");
    EXPECT_EQ(updater->downloadPercentage(), 100);
    EXPECT_EQ(updater->packageFilePath(), cache() / "1.5.deb");
  }
  recorder.events.clear();
  {
    auto updater = makeUpdater("1.5", server.url("/list"));
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_FALSE(updater->availableVersion());
    EXPECT_FALSE(updater->packageFilePath());
    EXPECT_EQ(updater->downloadPercentage(), 0);
    EXPECT_FALSE(std::filesystem::exists(cache() / "1.5.deb")) << "same version: deleted";
    EXPECT_TRUE(std::filesystem::exists(cache() / "0.9.txt"));
    std::string error;
    EXPECT_FALSE(updater->install(&error));
    EXPECT_EQ(error, "no downloaded package to install");
  }
}

TEST_F(SoftwareUpdateTest, TheNewestCachedPackageIsOfferedAndACheckKeepsOnlyTheListedNewest) {
  for (const char* version : {"1.2", "1.5", "1.7"}) tree.write(kCache + version + ".deb", version);
  auto updater = makeUpdater("1.3", server.url("/list"));
  EXPECT_EQ(updater->availableVersion(), "1.7") << "the newest, not the first by name";
  EXPECT_FALSE(std::filesystem::exists(cache() / "1.2.deb")) << "older than installed";

  // 1.7 was withdrawn: the list's newest is offered, the rest goes.
  server.route("/list", {200, "5a56,1704,1.5," + server.url("/1.5.deb") + "\n5a56,1704,1.4," +
                                  server.url("/1.4.deb") + "\n"});
  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(waitUntilIdle(*updater));
  EXPECT_EQ(updater->availableVersion(), "1.5");
  EXPECT_EQ(updater->packageFilePath(), cache() / "1.5.deb");
  EXPECT_EQ(updater->downloadPercentage(), 100);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(cache())) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"1.5.deb"});
}

TEST_F(SoftwareUpdateTest, MatchingLinesAnnounceOnlyNewerVersions) {
  auto updater = makeUpdater("1.3", "https://unused.invalid/list");
  updater->checkVersion(
      "5a56,1704,1.4,https://a/1.4.deb\n5a56,1704,1.5,https://a/1.5.deb\n"
      "5a56,1704,1.3,https://a/1.3.deb\n5a57,1704,2.0,https://a/x.deb\n");
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"available 1.4", "available 1.5"}));
  EXPECT_EQ(updater->availableURL(), "https://a/1.5.deb");

  recorder.events.clear();
  auto reversed = makeUpdater("1.3", "https://unused.invalid/list");
  reversed->checkVersion("5a56,1704,1.5,https://a/1.5.deb\n5a56,1704,1.4,https://a/1.4.deb\n");
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"available 1.5"}));
  EXPECT_EQ(reversed->availableVersion(), "1.5");

  recorder.events.clear();
  auto others = makeUpdater("1.3", "https://unused.invalid/list");
  others->checkVersion("5a56,1705,1.9,https://a/1.9.deb\n5a56,1704,1.9\n");
  EXPECT_TRUE(recorder.events.empty()) << "other products, three fields";

  // A list from a server cannot point the updater at files of this computer.
  others->checkVersion("5a56,1704,2.0,file:///etc/passwd\n5a56,1704,2.1,http://a/2.1.deb\n");
  EXPECT_TRUE(recorder.events.empty());
}

TEST_F(SoftwareUpdateTest, APackageKeepsTheVersionItWasDownloadedFor) {
  // A window that downloads as soon as a version is announced, while later lines of the
  // same list announce a newer one.
  struct EagerDownloader : Recorder {
    void softwareUpdateNewVersionAvailable(ZVSoftwareUpdate& updater,
                                           const std::string& version) override {
      Recorder::softwareUpdateNewVersionAvailable(updater, version);
      if (events.size() == 1) started = updater.download();
    }
    bool started = false;
  } eager;
  server.route("/list", {200, "5a56,1704,1.4," + server.url("/1.4.deb") + "\n5a56,1704,1.5," +
                                  server.url("/1.5.deb") + "\n"});
  server.route("/1.4.deb", {200, "package 1.4"});
  server.route("/1.5.deb", {200, "package 1.5"});
  auto updater = makeUpdater("1.3", server.url("/list"));
  updater->setDelegate(&eager);
  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(waitFor([&] { return eager.events.size() == 4; }));
  EXPECT_TRUE(eager.started);
  EXPECT_EQ(eager.events,
            (std::vector<std::string>{"available 1.4", "available 1.5", "checked", "complete"}));
  EXPECT_EQ(updater->packageFilePath(), cache() / "1.4.deb");
  EXPECT_EQ(tree.read(kCache + "1.4.deb"), "package 1.4");
  EXPECT_EQ(updater->availableVersion(), "1.5");
}

TEST_F(SoftwareUpdateTest, RefusesASecondRequestWhileOneRuns) {
  server.route("/list", {200, listFor(server), Behaviour::Stall});
  auto updater = makeUpdater("1.3", server.url("/list"));
  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(waitFor([&] { return server.isStalling(); }));
  EXPECT_TRUE(updater->isBusy());
  EXPECT_FALSE(updater->download()) << "download while the list is being fetched";
  EXPECT_FALSE(updater->check());
  EXPECT_EQ(server.requests("/list"), 1);

  server.release();  // the connection closes short of its announced length
  ASSERT_TRUE(waitUntilIdle(*updater));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"failed"}));
  EXPECT_FALSE(updater->availableVersion()) << "half a list announces nothing";

  // The failure left the updater idle: the next check works.
  server.route("/list", {200, listFor(server)});
  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(waitUntilIdle(*updater));
  EXPECT_EQ(recorder.events.back(), "checked");
  EXPECT_EQ(updater->availableVersion(), "1.4");
}

TEST_F(SoftwareUpdateTest, BrokenServersAreReportedAndLeaveNothingBehind) {
  struct Case {
    const char* name;
    Route route;
    const char* reason;  // part of the message
  };
  const std::string package(50'000, 'p');
  for (const Case& c : std::initializer_list<Case>{
           {"drop", {200, package, Behaviour::Drop}, "cannot download https://127.0.0.1:"},
           {"wrong length", {200, package, Behaviour::WrongLength}, "100 bytes remaining"},
           {"not found", {404, "gone"}, "404"},
       }) {
    SCOPED_TRACE(c.name);
    recorder = Recorder();
    server.route("/list", {200, listFor(server)});
    server.route("/kinetra_1.4.deb", c.route);
    auto updater = makeUpdater("1.3", server.url("/list"));
    ASSERT_TRUE(updater->check());
    ASSERT_TRUE(waitUntilIdle(*updater));
    ASSERT_TRUE(updater->download());
    ASSERT_TRUE(waitUntilIdle(*updater));
    EXPECT_EQ(recorder.events.back(), "failed");
    EXPECT_NE(recorder.failure.find(c.reason), std::string::npos) << recorder.failure;
    EXPECT_EQ(updater->downloadPercentage(), 0);
    EXPECT_FALSE(updater->packageFilePath());
    EXPECT_FALSE(std::filesystem::exists(cache() / "1.4.deb"));

    server.route("/kinetra_1.4.deb", {200, package});
    ASSERT_TRUE(updater->download()) << "a failure leaves the updater usable";
    ASSERT_TRUE(waitUntilIdle(*updater));
    EXPECT_EQ(recorder.events.back(), "complete");
    std::filesystem::remove(cache() / "1.4.deb");
  }
}

TEST_F(SoftwareUpdateTest, AServerThatStopsSendingTimesOut) {
  server.route("/list", {200, "x", Behaviour::Stall});  // headers, then nothing
  ZVSoftwareUpdateOptions options;
  options.connection.stallTimeout = 1s;
  auto updater = makeUpdater("1.3", server.url("/list"), options);
  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(waitUntilIdle(*updater));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"failed"}));
  EXPECT_NE(recorder.failure.find("Less than 1 bytes/sec"), std::string::npos) << recorder.failure;
  server.release();
}

TEST_F(SoftwareUpdateTest, ASteadyButEndlessLoadEndsAtTheTimeLimit) {
  server.route("/list", {200, "x", Behaviour::Stall});
  ZVSoftwareUpdateOptions options;
  options.connection.totalTimeout = 1s;
  auto updater = makeUpdater("1.3", server.url("/list"), options);
  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(waitUntilIdle(*updater));
  EXPECT_NE(recorder.failure.find("took longer than the time limit of 1 s"), std::string::npos)
      << recorder.failure;
  server.release();
}

TEST_F(SoftwareUpdateTest, LocalPackagesArriveInPiecesAndOnlyFromRegularFiles) {
  const std::string package(3 << 20, 'z');
  tree.write("mirror/big.deb", package);
  const auto fifo = tree.path("mirror/fifo.deb");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  tree.write("mirror/list", "5a56,1704,2.0,file://" + tree.path("mirror/big.deb").string() +
                                "\n5a56,1704,2.1,file:" + fifo.string() + "\n");
  auto local = makeUpdater("1.3", "file://" + tree.path("mirror/list").string());
  ASSERT_TRUE(local->check());
  ASSERT_TRUE(waitUntilIdle(*local));
  std::string error;
  EXPECT_FALSE(local->download(&error)) << "a FIFO is never opened for reading";
  EXPECT_EQ(error, "cannot read " + fifo.string() + ": not a regular file");

  local->checkVersion("5a56,1704,2.0,file://" + tree.path("mirror/big.deb").string());
  ASSERT_TRUE(local->download(&error)) << error;
  ASSERT_TRUE(waitUntilIdle(*local));
  EXPECT_EQ(recorder.events.back(), "complete") << recorder.failure;
  EXPECT_GE(recorder.progress.size(), 4u) << "written as it arrives, piece by piece";
  EXPECT_TRUE(tree.read(kCache + "2.0.deb") == package);
}

TEST_F(SoftwareUpdateTest, FollowsOnlyHttpsLocations) {
  std::string error;
  auto plain = makeUpdater("1.3", "http://127.0.0.1:1/list");
  EXPECT_FALSE(plain->check(&error));
  EXPECT_EQ(error,
            "'http://127.0.0.1:1/list' is not an https: location; only https: locations "
            "are used");
  EXPECT_FALSE(plain->isBusy());

  auto none = makeUpdater("1.3", "");
  EXPECT_FALSE(none->check(&error));
  EXPECT_EQ(error, "Zenvor Demo Mouse has no update location (\"SoftwareUpdateURL\")");
  EXPECT_FALSE(none->download(&error));
  EXPECT_EQ(error, "no newer version is available; check first");

  server.route("/list", {302, "", Behaviour::Normal, "http://127.0.0.1:1/list"});
  auto redirected = makeUpdater("1.3", server.url("/list"));
  ASSERT_TRUE(redirected->check());
  ASSERT_TRUE(waitUntilIdle(*redirected));
  EXPECT_EQ(recorder.events.back(), "failed");
  EXPECT_NE(recorder.failure.find("http"), std::string::npos) << recorder.failure;
}

TEST_F(SoftwareUpdateTest, LocalListsAndPackagesAndUnknownLengths) {
  const std::string package(30'000, 'q');
  tree.write("mirror/kinetra_2.0.deb", package);
  tree.write("mirror/list", "5a56,1704,2.0,file://" + tree.path("mirror/kinetra_2.0.deb").string());
  auto local = makeUpdater("1.3", "file://" + tree.path("mirror/list").string());
  ASSERT_TRUE(local->check());
  ASSERT_TRUE(waitUntilIdle(*local));
  ASSERT_TRUE(local->download());
  ASSERT_TRUE(waitUntilIdle(*local));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"available 2.0", "checked", "complete"}));
  EXPECT_TRUE(tree.read(kCache + "2.0.deb") == package);

  // Without an announced length the percentage cannot be measured: 0 until complete.
  std::filesystem::remove(cache() / "2.0.deb");
  recorder = Recorder();
  server.route("/list", {200, listFor(server)});
  server.route("/kinetra_1.4.deb", {200, package, Behaviour::NoLength});
  auto unknown = makeUpdater("1.3", server.url("/list"));
  ASSERT_TRUE(unknown->check());
  ASSERT_TRUE(waitUntilIdle(*unknown));
  ASSERT_TRUE(unknown->download());
  ASSERT_TRUE(waitUntilIdle(*unknown));
  EXPECT_EQ(recorder.events.back(), "complete") << recorder.failure;
  for (const int percentage : recorder.progress) EXPECT_EQ(percentage, 0);
  EXPECT_EQ(unknown->downloadPercentage(), 100);
}

TEST_F(SoftwareUpdateTest, OversizedBodiesAreRefused) {
  server.route("/list", {200, listFor(server)});
  server.route("/kinetra_1.4.deb", {200, std::string(5000, 'p')});
  ZVSoftwareUpdateOptions options;
  options.connection.maximumLength = 1000;
  auto updater = makeUpdater("1.3", server.url("/list"), options);
  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(waitUntilIdle(*updater));
  ASSERT_TRUE(updater->download());
  ASSERT_TRUE(waitUntilIdle(*updater));
  EXPECT_EQ(recorder.events.back(), "failed");
  EXPECT_NE(recorder.failure.find("larger than 1000 bytes"), std::string::npos) << recorder.failure;
}

TEST_F(SoftwareUpdateTest, ClearDownloadCacheEmptiesTheFolder) {
  tree.write(kCache + "1.5.deb", "a");
  tree.write(kCache + "1.6.deb", "b");
  auto updater = makeUpdater("1.3", server.url("/list"));
  updater->clearDownloadCache();
  EXPECT_TRUE(std::filesystem::is_empty(cache()));
}

TEST(PackageInstallCommand, HandsThePackageToTheSystemsTool) {
  InstallTools tools;
  tools.pkexec = tools.aptGet = tools.xdgOpen = tools.graphical = true;
  EXPECT_EQ(packageInstallCommand("/c/1.4.deb", tools),
            (std::vector<std::string>{"pkexec", "apt-get", "install", "-y", "--no-remove",
                                      "/c/1.4.deb"}));
  tools.pkexec = false;
  EXPECT_EQ(packageInstallCommand("/c/../c/1.4.deb", tools),
            (std::vector<std::string>{"xdg-open", "/c/1.4.deb"}));
  tools.graphical = false;
  EXPECT_TRUE(packageInstallCommand("/c/1.4.deb", tools).empty());
}

}  // namespace
}  // namespace zv::update
