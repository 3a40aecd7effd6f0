// `kinetra update` as a user runs it, against the HTTPS server on loopback.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "LoopbackServer.h"
#include "testing/TemporaryTree.h"

namespace {

using Behaviour = zv::testing::LoopbackServer::Behaviour;

struct Result {
  int status;
  std::string output;  // standard output and error
};

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class KinetraUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.write("share/Devices/Demo.bundle/Contents/Info.plist", R"(<?xml version="1.0"?>
<plist version="1.0"><dict>
  <key>CFBundleVersion</key><string>1.3</string>
  <key>SoftwareUpdateURL</key><string>)" + server.url("/list") + R"(</string>
  <key>Devices</key><dict>
    <key>Demo</key><dict>
      <key>Alias</key><string>DemoMouse</string>
      <key>Name</key><string>Zenvor Demo Mouse</string>
      <key>VendorID</key><integer>23126</integer>
      <key>ProductID</key><integer>5892</integer>
    </dict>
  </dict>
</dict></plist>)");
  }

  // Runs kinetra with `arguments` (already quoted where needed).
  Result kinetra(const std::string& arguments) {
    const std::string command = quoted(KINETRA_EXECUTABLE) + " update " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    Result result{-1, {}};
    if (!pipe) return result;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) {
      result.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  std::string withCertificate() const {
    return " --cacert " + quoted(server.certificateFile().string());
  }

  zv::testing::TemporaryTree tree;
  zv::testing::LoopbackServer server{tree.root()};
};

TEST_F(KinetraUpdateTest, ComparesVersions) {
  EXPECT_EQ(kinetra("compare 1.2 1.3").output, "1\n");
  EXPECT_EQ(kinetra("compare 1.10 1.9").output, "-1\n");
  EXPECT_EQ(kinetra("compare 1.2.0 1.2.0").output, "0\n");
  EXPECT_EQ(kinetra("compare 1.2 1.3").status, 0);
  EXPECT_EQ(kinetra("compare 1.2").status, 1);
}

TEST_F(KinetraUpdateTest, ChecksAndDownloadsFromTheLocalServer) {
  const std::string package(100'000, 'k');
  server.route("/list", {200, "5a56,1704,1.2,https://x/old.deb\n5a56,1704,1.4," +
                                  server.url("/kinetra_1.4.deb") + "\n"});
  server.route("/kinetra_1.4.deb", {200, package});

  const Result check = kinetra("check" + withCertificate());
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output, "Zenvor Demo Mouse 1.3: version 1.4 is available at " +
                              server.url("/kinetra_1.4.deb") + "\n");

  const Result download = kinetra("download --device DemoMouse" + withCertificate());
  const auto path =
      tree.path("home/.local/share/Kinetra/.installerCache/Zenvor Demo Mouse/1.4.deb");
  EXPECT_EQ(download.status, 0) << download.output;
  EXPECT_EQ(download.output, path.string() + "\n");
  EXPECT_TRUE(tree.read("home/.local/share/Kinetra/.installerCache/Zenvor Demo Mouse/1.4.deb") ==
              package);

  // The cached package is newer than the installed version: it is offered again.
  server.route("/list", {200, ""});
  EXPECT_EQ(kinetra("download" + withCertificate()).output, path.string() + "\n");
}

TEST_F(KinetraUpdateTest, ReportsWhatGoesWrong) {
  server.route("/list", {200, "5a56,1704,1.0,https://x/old.deb\n"});
  EXPECT_EQ(kinetra("check" + withCertificate()).output,
            "Zenvor Demo Mouse 1.3: no newer version in " + server.url("/list") + "\n");

  server.route("/list", {200, "", Behaviour::Drop});
  Result dropped = kinetra("check" + withCertificate());
  EXPECT_EQ(dropped.status, 1);
  EXPECT_EQ(dropped.output.rfind("kinetra update: cannot download " + server.url("/list"), 0), 0u)
      << dropped.output;

  const Result untrusted = kinetra("check");
  EXPECT_EQ(untrusted.status, 1);
  EXPECT_NE(untrusted.output.find("certificate"), std::string::npos) << untrusted.output;

  EXPECT_EQ(kinetra("check --url http://127.0.0.1:1/list").output,
            "kinetra update: 'http://127.0.0.1:1/list' is not an https: location; only https: "
            "locations are used\n");
  EXPECT_EQ(kinetra("check --device Nothing").output,
            "kinetra update: no device with alias 'Nothing' (known: DemoMouse)\n");
  EXPECT_EQ(kinetra("check --bundle " + quoted(tree.path("none.bundle").string())).output,
            "kinetra update: " + tree.path("none.bundle").string() + ": no such device bundle\n");
  EXPECT_EQ(kinetra("check --url").status, 1);
}

}  // namespace
