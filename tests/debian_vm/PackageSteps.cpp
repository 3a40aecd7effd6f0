#include "PackageSteps.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PollUntil.h"
#include "UserFiles.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// What the installation tells the user to do next.
constexpr const char* kNextStep = "systemctl --user enable --now perch";
// apt-get and dpkg run maintainer scripts and unpack hundreds of files under emulation.
constexpr int kPackageBounds = 24;

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

bool present(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

// The installed version of the suite's package, or empty when it is not installed.
std::string installedVersion(SystemGuest& guest) {
  const auto result = runCommand(
      {"dpkg-query", "-W", "-f", "${db:Status-Status} ${Version}", "kinetra"}, guest.bound());
  const std::string text = trimmed(result.output);
  return text.rfind("installed ", 0) == 0 ? text.substr(10) : std::string();
}

std::string versionOf(SystemGuest& guest, const std::string& deb) {
  return trimmed(guest.must({"dpkg-deb", "-f", deb, "Version"}));
}

// Paths among `paths` that still exist, apart from folders: of other paths of the list
// (/lib, a link to /usr/lib here), or any that others' files keep ("/.").
std::vector<std::string> leftBehind(const std::vector<std::string>& paths) {
  std::vector<std::string> left;
  for (const auto& path : paths) {
    const bool folder = std::any_of(paths.begin(), paths.end(), [&](const std::string& other) {
      return other.size() > path.size() && other.compare(0, path.size(), path) == 0 &&
             other[path.size()] == '/';
    });
    std::error_code error;
    if (!folder && present(path) && !fs::is_directory(path, error)) left.push_back(path);
  }
  return left;
}

std::string listed(const std::vector<std::string>& paths) {
  std::string text;
  for (std::size_t i = 0; i < paths.size() && i < 5; ++i) text += "\n    " + paths[i];
  if (paths.size() > 5) text += "\n    … " + std::to_string(paths.size() - 5) + " more";
  return text;
}

void expectNothingRuns(SystemGuest& guest, const std::string& after) {
  expect(pollUntil([&] { return guest.drivers().empty(); }, guest.bound() * 2),
         "zenvor-driver still runs after " + after);
  expect(pollUntil([&] { return processesNamed("perch").empty(); }, guest.bound() * 2),
         "perch still runs after " + after);
}

// The mouse, free of the suite: a reader may grab it again.
void expectMouseFree(SystemGuest& guest) {
  auto original = guest.session.openReader(guest.session.pointerNode(guest.session.usbMouseInfo));
  expect(original->grab(true) == 0, original->node() + " is still grabbed");
  original->grab(false);
}

std::string install(SystemGuest& guest) {
  const std::string output =
      guest.must({"apt-get", "install", "-y", guest.options.package}, kPackageBounds);
  const std::string version = installedVersion(guest);
  expect(version == versionOf(guest, guest.options.package),
         "dpkg has version '" + version + "' installed" + lastLines(output));
  expect(output.find(kNextStep) != std::string::npos,
         std::string("the installation did not end by telling the next step (") + kNextStep + ")" +
             lastLines(output));
  return "kinetra " + version + " installed offline, the next step said";
}

// The user's own settings: a new profile linked to an application, a preference.
void makeUserSettings(SystemGuest& guest) {
  const std::string made = guest.must(asUser(kPlayer, {"kinetra", "new"}));
  const std::string name = made.substr(0, made.find(' '));
  expect(!name.empty(), "`kinetra new` printed no profile name");
  guest.must(asUser(kPlayer, {"kinetra", "link", "/usr/bin/bash", name}));
  guest.must(asUser(kPlayer, {"kinetra", "prefs", "set", "HideStatusMenu", "true"}));
}

std::string upgrade(SystemGuest& guest) {
  const std::string previous = versionOf(guest, guest.options.previousPackage);
  const std::string current = versionOf(guest, guest.options.package);
  guest.record->mark();
  guest.must({"apt-get", "install", "-y", "--allow-downgrades", guest.options.previousPackage},
             kPackageBounds);
  expect(installedVersion(guest) == previous,
         "the previous version " + previous + " is not installed after installing it");
  guest.waitForAgentTakeover();
  makeUserSettings(guest);
  const FileContents before = userFiles(kPlayer.home());

  const pid_t driver = guest.drivers().at(0).pid;
  const pid_t agent = guest.agentOf(kPlayer).pid;
  guest.record->mark();
  guest.must({"apt-get", "install", "-y", guest.options.package}, kPackageBounds);
  expect(installedVersion(guest) == current, "version " + current + " is not installed");

  const std::string lost = firstLost(before, userFiles(kPlayer.home()));
  expect(lost.empty(), "the upgrade did not keep player's files: " + lost);
  const auto restarted = [&] {
    const auto running = guest.drivers();
    return running.size() == 1 && running[0].pid != driver;
  };
  expect(pollUntil(restarted, guest.bound() * 2), "the driver was not restarted");
  expect(guest.unitState("zenvor-driver@" + guest.deviceId + ".service") == "active",
         "the driver's unit is not active after the upgrade");
  expect(pollUntil([&] { return processesNamed("perch").size() == 1; }, guest.bound() * 2) &&
             guest.agentOf(kPlayer).pid != agent,
         "perch was not restarted");
  guest.waitForAgentTakeover();
  guest.pressBecomesKey();
  return previous + " -> " + current + ": " + std::to_string(before.size()) +
         " files of player's kept, driver and perch restarted, button 4 still a key";
}

std::string removeAndPurge(SystemGuest& guest) {
  const std::vector<std::string> files = lines(guest.must({"dpkg-query", "-L", "kinetra"}));
  const std::vector<std::string> conffiles =
      lines(trimmed(guest.must({"dpkg-query", "-W", "-f", "${Conffiles}\n", "kinetra"})));
  std::vector<std::string> kept;  // configuration files stay until the purge
  for (const auto& line : conffiles) {
    std::istringstream in(line);
    std::string path;
    in >> path;
    if (!path.empty()) kept.push_back(path);
  }
  const FileContents before = userFiles(kPlayer.home());

  guest.must({"apt-get", "remove", "-y", "kinetra"}, kPackageBounds);
  expectNothingRuns(guest, "apt-get remove");
  std::vector<std::string> left;
  for (const auto& path : leftBehind(files)) {
    if (std::find(kept.begin(), kept.end(), path) == kept.end()) left.push_back(path);
  }
  expect(left.empty(), "apt-get remove left files of the package:" + listed(left));
  expectMouseFree(guest);

  guest.must({"apt-get", "purge", "-y", "kinetra"}, kPackageBounds);
  left = leftBehind(kept);
  expect(left.empty(), "apt-get purge left configuration files:" + listed(left));
  expect(!present("/usr/lib/kinetra") && !present("/usr/share/kinetra"),
         "the suite's folders remain after the purge");
  const std::string lost = firstLost(before, userFiles(kPlayer.home()));
  expect(lost.empty(), "removing the package did not keep player's files: " + lost);
  return std::to_string(files.size()) + " paths of the package gone, " +
         std::to_string(kept.size()) + " configuration files with the purge; services " +
         "stopped, the mouse free, player's files kept";
}

// The settings window's uninstaller, found in its application folder.
std::string uninstaller() {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/kinetra/Applications", error)) {
    const fs::path script = entry.path() / "Contents/Resources/uninstall.sh";
    if (entry.path().extension() == ".prefPane" && fs::exists(script)) return script.string();
  }
  return {};
}

std::string cmakeInstallUninstalled(SystemGuest& guest) {
  // `cmake --install` into a staging root on the host, unpacked here over /: the same
  // files as `sudo cmake --install` would write; then what the README says to run after it.
  // /lib is a link to /usr/lib here: tar would otherwise put a folder in the link's place,
  // and with it the system's libraries and loader out of reach.
  guest.must({"tar", "-C", "/", "--no-overwrite-dir", "--keep-directory-symlink", "-xpf",
              guest.options.stagedInstall});
  guest.must({"systemctl", "daemon-reload"});
  guest.must({"udevadm", "control", "--reload-rules"});
  guest.unplugAndWaitForNoDriver();
  guest.record->mark();
  guest.plugAndWaitForDriver();
  guest.must(asUser(kPlayer, {"systemctl", "--user", "daemon-reload"}));
  guest.must(asUser(kPlayer, {"systemctl", "--user", "start", kAgentUnit}));
  guest.waitForAgentTakeover();
  guest.pressBecomesKey();

  const std::string script = uninstaller();
  expect(!script.empty(), "the install holds no uninstall.sh in the settings window's folder");
  std::vector<std::string> manifest;
  {
    std::ifstream in(fs::path(script).replace_filename("uninstall.manifest"));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) manifest.push_back(line);
    }
  }
  expect(!manifest.empty(), "uninstall.manifest is empty or missing");
  const FileContents before = userFiles(kPlayer.home());
  // As the settings window runs it: pkexec /bin/sh uninstall.sh.
  guest.must({"/bin/sh", script}, kPackageBounds);
  expectNothingRuns(guest, "uninstall.sh");
  const auto left = leftBehind(manifest);
  expect(left.empty(), "uninstall.sh left installed files:" + listed(left));
  expect(!present("/usr/lib/kinetra") && !present("/usr/share/kinetra"),
         "the suite's folders remain after uninstall.sh");
  const std::string lost = firstLost(before, userFiles(kPlayer.home()));
  expect(lost.empty(), "uninstall.sh did not keep player's files: " + lost);
  expectMouseFree(guest);
  return std::to_string(manifest.size()) + " installed files gone, services stopped, " +
         "player's files kept";
}

}  // namespace

void addInstallStep(SystemGuest& guest) {
  guest.session.checks.add("install", [&guest] { return install(guest); });
}

void addUpgradeAndRemovalSteps(SystemGuest& guest) {
  CheckList& checks = guest.session.checks;
  checks.add("upgrade", [&guest] { return upgrade(guest); }, {"agent-starts"});
  checks.add("remove", [&guest] { return removeAndPurge(guest); }, {"install"});
  checks.add("uninstall-script", [&guest] { return cmakeInstallUninstalled(guest); },
             {"remove", "agent-starts"});
}

}  // namespace zv::vmtest
