// From a focus change to the linked profile being current, on each desktop whose
// provider can run here, in one run: X11 (a window-manager stand-in sets
// _NET_ACTIVE_WINDOW on a private Xvfb), sway (headless, two foot windows, focus by IPC
// command), GNOME Shell (headless, our extension, two Qt windows, focus by the test
// extension) and KWin (headless, our script, a Qt window on each of two virtual
// desktops, focus by switching desktops). The provider hears the change, the switcher
// makes the profile current through the store (info file written, profile loaded and
// activated). Each change moves the focus to the other application, so half switch to
// the linked profile and half switch back.
//
// Each benchmark makes 200 changes and reports the median and the 99th percentile of
// the time from the request that moves the focus to the profile being current
// (median_ms, p99_ms); the time includes the desktop's own work on the request.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "engine/ZVProfile.h"
#include "log/Log.h"
#include "platform/RunLoop.h"
#include "platform/linux/GnomeShellExtensions.h"
#include "platform/linux/GnomeShellFrontmostApplication.h"
#include "platform/linux/KWinFrontmostApplication.h"
#include "platform/linux/SwayFrontmostApplication.h"
#include "platform/linux/X11FrontmostApplication.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "store/ZVProfileStore.h"
#include "store/ZVProfileSwitcher.h"
#include "testing/GnomeShellSession.h"
#include "testing/KWinSession.h"
#include "testing/SwaySession.h"
#include "testing/X11WindowManagerStandIn.h"
#include "testing/XvfbServer.h"

namespace {

using namespace zv;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::FrontmostApplication;

const fs::path kBundle = ZV_SOURCE_DIR "/data/Devices/DemoMouse.bundle";
const fs::path kTestWindow = ZV_TEST_WINDOW;
constexpr int kChanges = 200;

// A scratch folder as the user's home, with the demo mouse's profiles Work (current)
// and Game.
class Profiles {
 public:
  Profiles() {
    std::string pattern = (fs::temp_directory_path() / "kinetra-bench-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    ::chmod(root_.c_str(), 0755);  // sway and its windows run as "nobody" under root
    ::setenv("KINETRA_HOME", (root_ / "home").c_str(), 1);
    log::setSystemLogHandler([](std::string_view) {});
    engine::ZVProfile::setSharedPrototype(
        profile::readPrototypeFile(ZV_SOURCE_DIR "/data/tevnodes.prototype"));
    device = std::make_shared<device::DeviceController>(
        device::deviceDescriptions(support::Bundle(kBundle)).front(), kBundle);
    const fs::path folder = store::ZVProfileStore::profileFolderForDevice(*device);
    fs::create_directories(folder);
    const auto text = profile::readProfileText(kBundle / "Contents/Resources/Default.pr0");
    for (const char* name : {"Work", "Game"}) {
      profile::writeProfileText(folder / (std::string(name) + ".pr0"), *text);
    }
    store = store::ZVProfileStore::openForDevice(device);
    store->setCurrentProfileByName("Work");
  }
  ~Profiles() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path path(const std::string& relative) const { return root_ / relative; }

  std::shared_ptr<device::DeviceController> device;
  std::shared_ptr<store::ZVProfileStore> store;

 private:
  fs::path root_;
};

// Moves the focus to application 0 (linked to Game) or 1 (not linked), `kChanges` times
// in turn, and reports the times until the profile followed.
void measure(benchmark::State& state, Profiles& profiles,
             const std::shared_ptr<FrontmostApplication>& provider, const fs::path& linked,
             const std::function<bool(int application)>& moveFocus) {
  const auto switcher = store::ZVProfileSwitcher::create(profiles.device, provider);
  switcher->setProfile("Game", linked.string());
  const char* const expected[2] = {"Game", "Work"};
  std::vector<double> times;
  int next = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!moveFocus(next) ||
        !platform::RunLoop::main().runUntil(
            [&] { return profiles.store->currentProfileName() == expected[next]; },
            std::chrono::seconds(10))) {
      state.SkipWithError("the profile did not follow the focus");
      return;
    }
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    next ^= 1;
  }
  std::sort(times.begin(), times.end());
  state.counters["median_ms"] = times[times.size() / 2];
  state.counters["p99_ms"] = times[std::min(times.size() - 1, times.size() * 99 / 100)];
}

// Waits until the provider reports process `pid` as focused.
bool focused(FrontmostApplication& provider, pid_t pid) {
  return platform::RunLoop::main().runUntil(
      [&] { return provider.current() && provider.current()->pid == pid; },
      std::chrono::seconds(20));
}

void BM_FocusChangeToLinkedProfileX11(benchmark::State& state) {
  std::string why;
  const auto server = testing::XvfbServer::start(&why);
  if (!server) return state.SkipWithError(why.c_str());
  Profiles profiles;
  auto opened =
      platform::X11FrontmostApplication::open(platform::RunLoop::main(), server->display());
  if (!opened) return state.SkipWithError(opened.failure().message.c_str());
  std::shared_ptr<FrontmostApplication> provider = std::move(*opened);
  testing::X11WindowManagerStandIn wm(server->display());
  // This program stands for the linked application, the X server for the other one.
  const std::uint32_t windows[2] = {wm.window(::getpid(), "game"),
                                    wm.window(server->pid(), "other")};
  measure(state, profiles, provider, fs::read_symlink("/proc/self/exe"), [&](int application) {
    wm.activate(windows[application]);
    return true;
  });
}

void BM_FocusChangeToLinkedProfileSway(benchmark::State& state) {
  Profiles profiles;
  std::string why;
  const auto sway = testing::SwaySession::start(profiles.path("sway"), &why);
  if (!sway) return state.SkipWithError(why.c_str());
  auto opened =
      platform::SwayFrontmostApplication::open(platform::RunLoop::main(), sway->socket().string());
  if (!opened) return state.SkipWithError("sway does not answer");
  std::shared_ptr<FrontmostApplication> provider = std::move(*opened);
  const fs::path apps[2] = {profiles.path("bin/game"), profiles.path("bin/other")};
  pid_t pids[2];
  for (int i : {0, 1}) {
    pids[i] = sway->openWindow(apps[i], &why);
    if (!pids[i] || !focused(*provider, pids[i])) return state.SkipWithError(why.c_str());
  }
  measure(state, profiles, provider, apps[0], [&](int application) {
    return sway->command("[pid=" + std::to_string(pids[application]) + "] focus").find("true") !=
           std::string::npos;
  });
}

// GNOME Shell and KWin: two Qt windows on the desktop, then `moveFocus`.
void measureWayland(benchmark::State& state, Profiles& profiles, testing::HeadlessDesktop& desktop,
                    const std::shared_ptr<FrontmostApplication>& provider,
                    const std::function<void(int application)>& beforeOpening,
                    const std::function<bool(pid_t pid, int application)>& moveFocus) {
  const fs::path apps[2] = {profiles.path("bin/game"), profiles.path("bin/other")};
  pid_t pids[2];
  std::string why;
  for (int i : {0, 1}) {
    beforeOpening(i);
    pids[i] = desktop.openWindow(apps[i], kTestWindow, &why);
    if (!pids[i] || !focused(*provider, pids[i])) {
      const std::string message =
          "no window took the focus (" + (why.empty() ? provider->waitingFor() : why) + ")";
      return state.SkipWithError(message.c_str());
    }
  }
  measure(state, profiles, provider, apps[0],
          [&](int application) { return moveFocus(pids[application], application); });
}

void BM_FocusChangeToLinkedProfileGnomeShell(benchmark::State& state) {
  Profiles profiles;
  std::string why;
  const auto shell = testing::GnomeShellSession::start(
      profiles.path("gnome"),
      {ZV_SOURCE_DIR "/desktop/gnome-shell/focus@kinetra.zenvor.com",
       ZV_SOURCE_DIR "/tests/platform/gnome-shell/focus-test@kinetra.zenvor.com"},
      &why);
  if (!shell) return state.SkipWithError(why.c_str());
  if (!platform::enableExtension(shell->control(), platform::kFocusExtensionUuid)) {
    return state.SkipWithError("GNOME Shell does not enable the focus extension");
  }
  auto bus = platform::BusConnection::open(platform::RunLoop::main(), shell->busAddress());
  auto opened =
      bus ? platform::GnomeShellFrontmostApplication::open(std::move(*bus))
          : base::Result<std::unique_ptr<platform::GnomeShellFrontmostApplication>>(bus.failure());
  if (!opened) return state.SkipWithError(opened.failure().message.c_str());
  std::shared_ptr<FrontmostApplication> provider = std::move(*opened);
  measureWayland(
      state, profiles, *shell, provider, [](int) {},
      [&](pid_t pid, int) { return shell->activate(pid); });
}

void BM_FocusChangeToLinkedProfileKWin(benchmark::State& state) {
  Profiles profiles;
  std::string why;
  const auto kwin = testing::KWinSession::start(profiles.path("kwin"), &why);
  if (!kwin) return state.SkipWithError(why.c_str());
  auto bus = platform::BusConnection::open(platform::RunLoop::main(), kwin->busAddress());
  auto opened =
      bus ? platform::KWinFrontmostApplication::open(std::move(*bus), kwin->runtimeFolder())
          : base::Result<std::unique_ptr<platform::KWinFrontmostApplication>>(bus.failure());
  if (!opened) return state.SkipWithError(opened.failure().message.c_str());
  std::shared_ptr<FrontmostApplication> provider = std::move(*opened);
  measureWayland(
      state, profiles, *kwin, provider,
      [&](int application) { kwin->showDesktop(application + 1); },
      [&](pid_t, int application) { return kwin->showDesktop(application + 1); });
}

BENCHMARK(BM_FocusChangeToLinkedProfileX11)->Iterations(kChanges)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FocusChangeToLinkedProfileSway)->Iterations(kChanges)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FocusChangeToLinkedProfileGnomeShell)
    ->Iterations(kChanges)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FocusChangeToLinkedProfileKWin)->Iterations(kChanges)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
