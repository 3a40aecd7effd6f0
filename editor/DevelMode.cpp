#include "DevelMode.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/SpawnProcess.h"

namespace zv::editor {

namespace {

std::filesystem::path ownExecutable() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error);
}

std::string hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

}  // namespace

std::filesystem::path defaultDriverPath() {
  // <build>/Applications/<Name>.app/Contents/Linux/tessel → <build>/bin/zenvor-driver
  auto build = ownExecutable();
  for (int level = 0; level < 5; ++level) build = build.parent_path();
  const auto beside = build / "bin" / "zenvor-driver";
  std::error_code error;
  if (std::filesystem::exists(beside, error)) return beside;
  return "zenvor-driver";
}

std::filesystem::path defaultBundleFolder() {
#ifdef TESSEL_SOURCE_BUNDLES
  std::error_code error;
  if (std::filesystem::is_directory(TESSEL_SOURCE_BUNDLES, error)) return TESSEL_SOURCE_BUNDLES;
#endif
  return platform::devicesFolder();
}

std::unique_ptr<DevelMode> DevelMode::start(const DevelOptions& options, std::string* error) {
  std::unique_ptr<DevelMode> owner(new DevelMode());
  DevelMode& mode = *owner;
  std::error_code failure;
  if (options.root) {
    mode.root_ = std::filesystem::absolute(*options.root, failure);
    std::filesystem::create_directories(mode.root_, failure);
  } else {
    std::string pattern = (std::filesystem::temp_directory_path(failure) / "tessel-devel.XXXXXX");
    if (!::mkdtemp(pattern.data())) {
      *error = "cannot make a temporary folder: " + std::string(std::strerror(errno));
      return nullptr;
    }
    mode.root_ = pattern;
    mode.temporary_ = true;
  }
  for (const char* folder : {"home", "run", "services", "data/MainstreamDevices", "data/Devices"}) {
    std::filesystem::create_directories(mode.root_ / folder, failure);
    if (failure) {
      *error = "cannot make " + (mode.root_ / folder).string() + ": " + failure.message();
      return nullptr;
    }
  }
  ::chmod((mode.root_ / "run").c_str(), 0700);

  // The bundles to offer, as links in the private MainstreamDevices folder (where the
  // device manager looks) and in Devices (where the command store gathers the shipped
  // commands), as an installation lays them out.
  for (auto it = std::filesystem::directory_iterator(options.bundles, failure);
       !failure && it != std::filesystem::directory_iterator(); it.increment(failure)) {
    if (it->path().extension() != ".bundle") continue;
    for (const char* folder : {"data/MainstreamDevices", "data/Devices"}) {
      const auto link = mode.root_ / folder / it->path().filename();
      std::error_code ignored;
      std::filesystem::remove(link, ignored);
      std::filesystem::create_directory_symlink(std::filesystem::absolute(it->path()), link,
                                                ignored);
    }
  }
  if (failure) {
    *error =
        "cannot read the device bundles in " + options.bundles.string() + ": " + failure.message();
    return nullptr;
  }

  for (const auto& fifo : {mode.mouseInput(), mode.keyInput()}) {
    std::filesystem::remove(fifo, failure);
    if (::mkfifo(fifo.c_str(), 0600) != 0) {
      *error = "cannot make " + fifo.string() + ": " + std::strerror(errno);
      return nullptr;
    }
  }
  const auto mouse = mode.mouseInput();

  ::setenv("KINETRA_HOME", (mode.root_ / "home").c_str(), 1);
  ::setenv("KINETRA_RUNTIME_DIR", (mode.root_ / "run").c_str(), 1);
  ::setenv("KINETRA_SERVICES_DIR", (mode.root_ / "services").c_str(), 1);
  ::setenv("KINETRA_DATA_ROOT", (mode.root_ / "data").c_str(), 1);
  ::setenv("KINETRA_SIMULATED_DEVICES", "1", 1);
  const std::string devtools = "127.0.0.1:" + std::to_string(options.devtoolsPort);
  ::setenv("QTWEBENGINE_REMOTE_DEBUGGING", devtools.c_str(), 1);

  platform::SpawnOptions spawn;
  spawn.nullInput = true;
  const auto driver = platform::spawnProcess(
      {options.driver.string(), "--simulate", hex4(options.product), "--input", mouse.string(),
       "--services", (mode.root_ / "services").string()},
      spawn, platform::RunLoop::main());
  mode.driver_ = driver.valueOr(0);
  if (!driver) {
    *error = "cannot start the simulated driver: " + driver.failure().message;
    return nullptr;
  }
  return owner;
}

DevelMode::~DevelMode() {
  if (driver_ != 0) ::kill(driver_, SIGTERM);
  if (temporary_) {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
}

std::string DevelMode::banner(const DevelOptions& options) const {
  return "tessel --devel: private folders in " + root_.string() + "\n" + "  simulated mouse " +
         hex4(options.product) + ": write report lines to " + mouseInput().string() + "\n" +
         "  key capture: write key lines (KEY_B 1) to " + keyInput().string() + "\n" +
         "  DevTools: http://127.0.0.1:" + std::to_string(options.devtoolsPort) + "\n";
}

}  // namespace zv::editor
