// From a focus change on an X11 desktop to the linked profile being current: a window
// manager (stand-in) sets the root window's _NET_ACTIVE_WINDOW on a private Xvfb, the
// X11 provider hears the PropertyNotify, asks for the window's process, and the
// switcher makes the profile current through the store (info file written, profile
// loaded and activated). Each iteration moves the focus to the other application, so
// half the iterations switch to the linked profile and half switch back.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "engine/ZVProfile.h"
#include "log/Log.h"
#include "platform/RunLoop.h"
#include "platform/linux/X11FrontmostApplication.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "store/ZVProfileStore.h"
#include "store/ZVProfileSwitcher.h"
#include "testing/X11WindowManagerStandIn.h"
#include "testing/XvfbServer.h"

namespace {

using namespace zv;
namespace fs = std::filesystem;

const fs::path kBundle = ZV_SOURCE_DIR "/data/Devices/DemoMouse.bundle";

void BM_FocusChangeToLinkedProfileX11(benchmark::State& state) {
  std::string why;
  const auto server = testing::XvfbServer::start(&why);
  if (!server) return state.SkipWithError(why.c_str());
  std::string pattern = (fs::temp_directory_path() / "kinetra-bench-XXXXXX").string();
  const fs::path root = ::mkdtemp(pattern.data());
  ::setenv("KINETRA_HOME", root.c_str(), 1);
  log::setSystemLogHandler([](std::string_view) {});
  engine::ZVProfile::setSharedPrototype(
      profile::readPrototypeFile(ZV_SOURCE_DIR "/data/tevnodes.prototype"));
  auto device = std::make_shared<device::DeviceController>(
      device::deviceDescriptions(support::Bundle(kBundle)).front(), kBundle);
  const fs::path folder = store::ZVProfileStore::profileFolderForDevice(*device);
  fs::create_directories(folder);
  const auto text = profile::readProfileText(kBundle / "Contents/Resources/Default.pr0");
  for (const char* name : {"Work", "Game"}) {
    profile::writeProfileText(folder / (std::string(name) + ".pr0"), *text);
  }
  const auto store = store::ZVProfileStore::openForDevice(device);
  store->setCurrentProfileByName("Work");
  auto opened =
      platform::X11FrontmostApplication::open(platform::RunLoop::main(), server->display());
  std::shared_ptr<platform::FrontmostApplication> provider;
  if (opened) provider = std::move(*opened);
  const auto switcher = store::ZVProfileSwitcher::create(device, provider);
  switcher->setProfile("Game", fs::read_symlink("/proc/self/exe").string());
  testing::X11WindowManagerStandIn wm(server->display());
  const std::uint32_t windows[2] = {wm.window(::getpid(), "game"),
                                    wm.window(server->pid(), "other")};
  const char* const expected[2] = {"Game", "Work"};

  int next = 0;
  for (auto _ : state) {
    wm.activate(windows[next]);
    if (!platform::RunLoop::main().runUntil(
            [&] { return store->currentProfileName() == expected[next]; },
            std::chrono::seconds(10))) {
      state.SkipWithError("the profile did not follow the focus");
      break;
    }
    next ^= 1;
  }
  std::error_code ec;
  fs::remove_all(root, ec);
}
BENCHMARK(BM_FocusChangeToLinkedProfileX11)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
