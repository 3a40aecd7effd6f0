// The whole road on the real desktops of Debian 12, headless: GNOME Shell with our
// extension and KWin with our script, each in a private session bus. Two application
// windows take the focus in turn; the desktop's provider hears each change and the
// switcher makes the profile linked to the first application current, and the one from
// before when the second has the focus. Each desktop skips, saying why, where it cannot
// start. Afterwards nothing of ours stays in the desktop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <optional>

#include "StoreTestSupport.h"
#include "platform/RunLoop.h"
#include "platform/linux/GnomeShellExtensions.h"
#include "platform/linux/GnomeShellFrontmostApplication.h"
#include "platform/linux/KWinFrontmostApplication.h"
#include "store/ZVProfileSwitcher.h"
#include "testing/GnomeShellSession.h"
#include "testing/KWinSession.h"
#include "testing/LineReader.h"

namespace zv::store::testing {
namespace {

using platform::BusConnection;
using platform::FrontmostApplication;
using zv::testing::HeadlessDesktop;
using ProviderResult = base::Result<std::unique_ptr<FrontmostApplication>>;

const fs::path kTestWindow = ZV_TEST_WINDOW;
const fs::path kExtensions = ZV_SOURCE_DIR "/desktop/gnome-shell";
const fs::path kTestExtensions = ZV_SOURCE_DIR "/tests/platform/gnome-shell";

template <typename Provider>
ProviderResult opened(base::Result<std::unique_ptr<Provider>> provider) {
  if (!provider) return provider.failure();
  return std::unique_ptr<FrontmostApplication>(std::move(*provider));
}

base::Result<std::unique_ptr<BusConnection>> connect(HeadlessDesktop& desktop) {
  return BusConnection::open(platform::RunLoop::main(), desktop.busAddress());
}

// How each desktop is started, how its provider opens, and how the focus moves between
// the windows (the first window is index 0).
struct Desktop {
  const char* name;
  std::function<std::unique_ptr<HeadlessDesktop>(const fs::path& folder, std::string* why)> start;
  std::function<ProviderResult(HeadlessDesktop&, const fs::path& runtime)> open;
  std::function<void(HeadlessDesktop&, int index)> beforeOpening;
  std::function<bool(HeadlessDesktop&, pid_t pid, int index)> focus;
  // After the provider has gone: checks that nothing of ours stays in the desktop.
  std::function<void(HeadlessDesktop&, const std::string& pluginName)> leavesNothing;
};

bool focusObjectAnswers(HeadlessDesktop& desktop) {
  return desktop.control()
      .call(platform::kGnomeShellName, platform::kFocusObjectPath, platform::kFocusInterface,
            "GetFocus")
      .ok();
}

bool kwinScriptLoaded(HeadlessDesktop& desktop, const std::string& plugin) {
  const auto reply = desktop.control().call(
      platform::kKWinName, "/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded",
      [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", plugin.c_str()); });
  int loaded = 1;
  return !reply || sd_bus_message_read(reply->get(), "b", &loaded) <= 0 || loaded;
}

// A provider in a process of its own, started on `desktop`; its script's plug-in name,
// once the script runs.
struct PeerProvider {
  std::optional<zv::testing::ChildProcess> process;
  std::string plugin;
};

PeerProvider startPeerProvider(HeadlessDesktop& desktop, const fs::path& scripts) {
  PeerProvider peer;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return peer;
  zv::testing::ChildOptions options;
  options.standardOutput = fds[1];
  if (auto started = zv::testing::ChildProcess::start(
          {FOCUS_PEER, desktop.busAddress(), scripts.string()}, options)) {
    peer.process = std::move(*started);
  }
  ::close(fds[1]);
  peer.plugin = zv::testing::readFirstLine(fds[0], std::chrono::seconds(30));
  return peer;
}

const Desktop kDesktops[] = {
    {"GNOME",
     [](const fs::path& folder, std::string* why) -> std::unique_ptr<HeadlessDesktop> {
       return zv::testing::GnomeShellSession::start(
           folder,
           {kExtensions / platform::kFocusExtensionUuid,
            kTestExtensions / "focus-test@kinetra.zenvor.com"},
           why);
     },
     [](HeadlessDesktop& desktop, const fs::path&) -> ProviderResult {
       // As `kinetra desktop enable` does.
       if (auto enabled =
               platform::enableExtension(desktop.control(), platform::kFocusExtensionUuid);
           !enabled) {
         return enabled.failure();
       }
       auto bus = connect(desktop);
       if (!bus) return bus.failure();
       return opened(platform::GnomeShellFrontmostApplication::open(std::move(*bus)));
     },
     [](HeadlessDesktop&, int) {},
     [](HeadlessDesktop& desktop, pid_t pid, int) {
       return static_cast<zv::testing::GnomeShellSession&>(desktop).activate(pid);
     },
     [](HeadlessDesktop& desktop, const std::string&) {
       EXPECT_TRUE(focusObjectAnswers(desktop));
       ASSERT_TRUE(platform::disableExtension(desktop.control(), platform::kFocusExtensionUuid));
       EXPECT_FALSE(focusObjectAnswers(desktop)) << "the disabled extension leaves nothing";
       // A provider opened now says what is missing.
       auto bus = connect(desktop);
       ASSERT_TRUE(bus);
       auto provider = platform::GnomeShellFrontmostApplication::open(std::move(*bus));
       ASSERT_TRUE(provider);
       ASSERT_TRUE(waitFor([&] { return !(*provider)->waitingFor().empty(); }));
       EXPECT_NE((*provider)->waitingFor().find("kinetra desktop enable"), std::string::npos);
     }},
    {"KWin",
     [](const fs::path& folder, std::string* why) -> std::unique_ptr<HeadlessDesktop> {
       return zv::testing::KWinSession::start(folder, why);
     },
     [](HeadlessDesktop& desktop, const fs::path& runtime) -> ProviderResult {
       auto bus = connect(desktop);
       if (!bus) return bus.failure();
       return opened(platform::KWinFrontmostApplication::open(std::move(*bus), runtime));
     },
     // Each window on a virtual desktop of its own: showing a desktop focuses its window.
     [](HeadlessDesktop& desktop, int index) {
       static_cast<zv::testing::KWinSession&>(desktop).showDesktop(index + 1);
     },
     [](HeadlessDesktop& desktop, pid_t, int index) {
       return static_cast<zv::testing::KWinSession&>(desktop).showDesktop(index + 1);
     },
     [](HeadlessDesktop& desktop, const std::string& plugin) {
       EXPECT_FALSE(kwinScriptLoaded(desktop, plugin)) << "the provider's end unloads its script";
       const fs::path scripts = desktop.runtimeFolder() / "scripts";
       auto peer = startPeerProvider(desktop, scripts);
       ASSERT_FALSE(peer.plugin.empty());
       const std::string crashed = peer.plugin;
       EXPECT_TRUE(kwinScriptLoaded(desktop, crashed));
       // As in a crash: the provider ends without a word.
       peer.process->signal(SIGKILL);
       peer.process->wait(std::chrono::seconds(10));
       // The next focus change finds the provider gone, and the script unloads itself.
       // KWin says nothing when a script goes, so the test asks until it has gone.
       static_cast<zv::testing::KWinSession&>(desktop).showDesktop(1);
       const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       while (kwinScriptLoaded(desktop, crashed) && std::chrono::steady_clock::now() < deadline) {
         platform::RunLoop::main().dispatchPending(std::chrono::milliseconds(10));
       }
       EXPECT_FALSE(kwinScriptLoaded(desktop, crashed));
       std::error_code ec;
       EXPECT_TRUE(fs::is_empty(scripts, ec)) << "no script file stays";
     }},
};

class SwitcherOnDesktops : public StoreTest, public ::testing::WithParamInterface<Desktop> {};

TEST_P(SwitcherOnDesktops, TheLinkedProfileFollowsTheFocusBetweenTwoApplications) {
  const Desktop& desktop = GetParam();
  zv::testing::TemporaryTree scratch(zv::testing::TemporaryTree::Roots::kept);
  std::string why;
  const auto session = desktop.start(scratch.path("desktop"), &why);
  if (!session) GTEST_SKIP() << why;
  addProfile("Work");
  addProfile("Game");
  open();
  store->setCurrentProfileByName("Work");

  const fs::path scripts = session->runtimeFolder() / "scripts";
  fs::create_directories(scripts);
  auto opened = desktop.open(*session, scripts);
  ASSERT_TRUE(opened) << opened.failure().message;
  std::shared_ptr<FrontmostApplication> provider = std::move(*opened);
  auto switcher = ZVProfileSwitcher::create(device, provider);
  const fs::path apps[2] = {scratch.path("bin/game"), scratch.path("bin/editor")};
  ASSERT_TRUE(switcher->setProfile("Game", apps[0].string()));
  const char* const expected[2] = {"Game", "Work"};

  pid_t pids[2] = {0, 0};
  const auto focused = [&](int index) {
    return waitFor([&] {
      return provider->current() && provider->current()->pid == pids[index] &&
             store->currentProfileName() == expected[index];
    });
  };
  for (int index : {0, 1}) {
    desktop.beforeOpening(*session, index);
    pids[index] = session->openWindow(apps[index], kTestWindow, &why);
    ASSERT_NE(pids[index], 0) << why;
    ASSERT_TRUE(focused(index)) << "the new window of " << apps[index] << " has the focus";
    EXPECT_EQ(provider->current()->executable, apps[index]);
  }
  for (int index : {0, 1, 0, 1}) {
    ASSERT_TRUE(desktop.focus(*session, pids[index], index));
    ASSERT_TRUE(focused(index)) << "the focus moved to " << apps[index];
  }
  EXPECT_TRUE(provider->connected());
  EXPECT_EQ(provider->waitingFor(), "");

  std::string plugin;
  if (const auto* kwin = dynamic_cast<platform::KWinFrontmostApplication*>(provider.get())) {
    plugin = kwin->pluginName();
  }
  switcher.reset();
  provider.reset();
  desktop.leavesNothing(*session, plugin);
}

INSTANTIATE_TEST_SUITE_P(Desktops, SwitcherOnDesktops, ::testing::ValuesIn(kDesktops),
                         [](const ::testing::TestParamInfo<Desktop>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zv::store::testing
