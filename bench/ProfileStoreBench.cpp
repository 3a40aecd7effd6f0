// How long the profile store takes to list a folder of 1 000 profiles: warm (the store
// knows every name, so a scan walks the folder and checks nothing else) and cold (a new
// process: every file is read and converted once to see which device it serves). The
// files were last changed an hour ago, as a user's profiles are at log-in; a file changed
// in the last seconds would also wait 50 ms for its writer (ProfileControllersCache.h).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "engine/ZVProfile.h"
#include "log/Log.h"
#include "profile/ProfileControllersCache.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "store/ZVProfileStore.h"

namespace {

using namespace zv;
namespace fs = std::filesystem;

constexpr int kProfiles = 1000;
const fs::path kBundle = ZV_SOURCE_DIR "/data/Devices/DemoMouse.bundle";

struct Folder {
  fs::path root;
  std::shared_ptr<device::DeviceController> device;

  Folder() {
    std::string pattern = (fs::temp_directory_path() / "kinetra-bench-XXXXXX").string();
    root = ::mkdtemp(pattern.data());
    ::setenv("KINETRA_HOME", root.c_str(), 1);
    log::setSystemLogHandler([](std::string_view) {});
    engine::ZVProfile::setSharedPrototype(
        profile::readPrototypeFile(ZV_SOURCE_DIR "/data/tevnodes.prototype"));
    device = std::make_shared<device::DeviceController>(
        device::deviceDescriptions(support::Bundle(kBundle)).front(), kBundle);
    const fs::path folder = store::ZVProfileStore::profileFolderForDevice(*device);
    fs::create_directories(folder);
    const auto text = profile::readProfileText(kBundle / "Contents/Resources/Default.pr0");
    for (int i = 0; i < kProfiles; ++i) {
      const fs::path path = folder / ("Profile " + std::to_string(i) + ".pr0");
      profile::writeProfileText(path, *text);
      struct stat info {};
      ::stat(path.c_str(), &info);
      timespec times[2] = {info.st_atim, info.st_mtim};
      times[1].tv_sec -= 3600;
      ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Folder& folder() {
  static Folder shared;
  return shared;
}

void BM_ReadDirectoryWarm(benchmark::State& state) {
  const auto store = store::ZVProfileStore::profileStoreForDevice(folder().device);
  store->readDirectory();
  if (store->profileNames().size() != kProfiles + 1) state.SkipWithError("profiles not listed");
  for (auto _ : state) store->readDirectory();
}
BENCHMARK(BM_ReadDirectoryWarm)->Unit(benchmark::kMillisecond);

void BM_ReadDirectoryCold(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    profile::ProfileControllersCache::shared().clear();
    const auto store = store::ZVProfileStore::profileStoreForDevice(folder().device);
    state.ResumeTiming();
    store->readDirectory();
    benchmark::DoNotOptimize(store->profileNames());
  }
}
BENCHMARK(BM_ReadDirectoryCold)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
