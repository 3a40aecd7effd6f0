#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace zv::platform {

namespace {
// The variable's value when it is set and not empty.
const char* fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}
}  // namespace

std::filesystem::path prefix() {
  if (const char* v = fromEnvironment("KINETRA_PREFIX")) return v;
  return "/usr";
}

std::filesystem::path dataRoot() {
  if (const char* v = fromEnvironment("KINETRA_DATA_ROOT")) return v;
  return prefix() / "share" / "kinetra";
}

std::filesystem::path mainstreamDevicesFolder() {
  return dataRoot() / "MainstreamDevices";
}

std::filesystem::path devicesFolder() {
  return dataRoot() / "Devices";
}

std::filesystem::path applicationsFolder() {
  if (const char* v = fromEnvironment("KINETRA_APPLICATIONS")) return v;
  return prefix() / "lib" / "kinetra" / "Applications";
}

std::filesystem::path homeFolder() {
  if (const char* v = fromEnvironment("KINETRA_HOME")) return v;
  if (const char* v = fromEnvironment("HOME")) return v;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

std::filesystem::path userDataFolder() {
  return homeFolder() / ".local" / "share" / "Kinetra";
}

std::filesystem::path preferencesFolder() {
  return homeFolder() / ".config";
}

std::filesystem::path runtimeFolder() {
  if (const char* v = fromEnvironment("KINETRA_RUNTIME_DIR")) return v;
  if (const char* v = fromEnvironment("XDG_RUNTIME_DIR")) return v;
  return "/tmp";
}

std::filesystem::path servicesFolder() {
  if (const char* v = fromEnvironment("KINETRA_SERVICES_DIR")) return v;
  return "/run/kinetra/services";
}

std::filesystem::path udevRulesFolder() {
  if (const char* v = fromEnvironment("KINETRA_UDEV_RULES_DIR")) return v;
  return "/etc/udev/rules.d";
}

std::filesystem::path sysfsRoot() {
  if (const char* v = fromEnvironment("KINETRA_SYSFS_ROOT")) return v;
  return "/sys";
}

}  // namespace zv::platform
