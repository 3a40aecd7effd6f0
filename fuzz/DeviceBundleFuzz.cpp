// Any bytes as a device bundle's Info.plist, read the way a device scan reads it: the
// descriptions with their root defaults, the criteria with the root fallback, controller
// classes, controllers initialised with their driver interfaces and element remapping.
// Nothing may crash or leak; every controller's udid is "<Alias>-<TypeID>".
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "device/DeviceController.h"
#include "device/DriverSets.h"
#include "device/ZVDeviceManager.h"
#include "json/Value.h"
#include "platform/HidManager.h"

namespace {

// Matching without devices: the fuzzer must not touch the machine's hidraw nodes.
class NoHidManager : public zv::platform::HidManager {
 public:
  void setDeviceMatchingCallback(DeviceCallback) override {}
  void setDeviceRemovalCallback(DeviceCallback) override {}
  zv::base::Result<void> scheduleWithRunLoop(zv::platform::RunLoop&) override { return {}; }
  void unscheduleFromRunLoop() override {}
  std::vector<zv::platform::HidDeviceRef> devices() const override { return {}; }
};

// A temporary bundle, removed at exit (kept for the process's life, never destroyed).
const std::filesystem::path& bundleFolder() {
  static const std::filesystem::path* folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-bundle-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    std::filesystem::create_directories(std::filesystem::path(pattern) / "Fuzz.bundle" /
                                        "Contents");
    zv::platform::setHidManagerFactory([] { return std::make_unique<NoHidManager>(); });
    auto* path = new std::filesystem::path(std::filesystem::path(pattern) / "Fuzz.bundle");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(bundleFolder().parent_path(), ignored);
    });
    return path;
  }();
  return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path bundle = bundleFolder();
  {
    std::ofstream out(bundle / "Contents" / "Info.plist", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  auto criteria = zv::json::makeDictionary();
  for (bool withAlias : {false, true}) {
    if (withAlias) criteria->set("Alias", zv::json::Value("DemoMouse"));
    const auto controllers =
        zv::device::controllersFromBundleAtPath(bundle, *criteria, [](const std::string&) {});
    for (const auto& controller : controllers) {
      if (controller->udid() != controller->alias() + "-" + std::to_string(controller->typeId())) {
        std::abort();
      }
      (void)controller->elementMap();
    }
  }
  zv::device::resetDriverSets();
  return 0;
}
