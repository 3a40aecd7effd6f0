// Every folder the suite reads or writes on a Linux system, computed in one place.
// Each root can be moved with an environment variable, so tests and the demo run in
// a temporary tree and never touch the real home folder, /usr or /run.
//
//   KINETRA_PREFIX        installation prefix                     (default /usr)
//   KINETRA_DATA_ROOT     shared data: device bundles             (<prefix>/share/kinetra)
//   KINETRA_APPLICATIONS  application folders (<Name>.app) (<prefix>/lib/kinetra/Applications)
//   KINETRA_HOME          the home folder of the user the suite serves ($HOME, else passwd)
//   KINETRA_RUNTIME_DIR   private runtime files                   ($XDG_RUNTIME_DIR, else /tmp)
//   KINETRA_SERVICES_DIR  driver service sockets                  (/run/kinetra/services)
//   KINETRA_UDEV_RULES_DIR udev rules, where adopted mice have theirs (/etc/udev/rules.d)
//   KINETRA_SYSFS_ROOT    the kernel's device tree, read for hidraw nodes (/sys)
#pragma once

#include <filesystem>

namespace zv::platform {

std::filesystem::path prefix();
std::filesystem::path dataRoot();
// "<data root>/MainstreamDevices" and "<data root>/Devices": installed device bundles.
std::filesystem::path mainstreamDevicesFolder();
std::filesystem::path devicesFolder();
std::filesystem::path applicationsFolder();
std::filesystem::path homeFolder();
// "<home>/.local/share/Kinetra": profile folders and the user's own files.
std::filesystem::path userDataFolder();
// "<home>/.config": the per-brand preferences files.
std::filesystem::path preferencesFolder();
std::filesystem::path runtimeFolder();
std::filesystem::path servicesFolder();
std::filesystem::path udevRulesFolder();
std::filesystem::path sysfsRoot();

}  // namespace zv::platform
