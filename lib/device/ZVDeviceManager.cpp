#include "device/ZVDeviceManager.h"

#include <algorithm>
#include <system_error>

#include "device/ControllerClasses.h"
#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "support/Bundle.h"
#include "support/PropertyList.h"

namespace zv::device {

namespace fs = std::filesystem;
using log::ZVLogLevel;

namespace {

void logProblem(const std::string& message) {
  ZV_LOG(ZVLogLevel::Error, nullptr, "%@", message);
}

std::string textOf(const json::Dictionary& dictionary, std::string_view key) {
  const json::Value* value = dictionary.find(key);
  return value && value->isString() ? value->asString() : std::string();
}

// The bundles below `folder`, in path order; nested bundles too.
std::vector<fs::path> bundlesIn(const fs::path& folder) {
  std::vector<fs::path> bundles;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".bundle") bundles.push_back(it->path());
  }
  std::sort(bundles.begin(), bundles.end());
  return bundles;
}

}  // namespace

bool descriptionMatches(const json::Dictionary& description, const json::Dictionary& root,
                        const json::Dictionary& criteria) {
  for (const auto& [key, wanted] : criteria) {
    const json::Value* own = description.find(key);
    if (own && *own == wanted) continue;
    const json::Value* inherited = root.find(key);
    if (inherited && *inherited == wanted) continue;
    return false;
  }
  return true;
}

ControllerList controllersFromBundleAtPath(const fs::path& bundlePath,
                                           const json::Dictionary& criteria,
                                           const std::function<void(const std::string&)>& problem) {
  const auto report = [&](const std::string& message) {
    if (problem) {
      problem(message);
    } else {
      logProblem(message);
    }
  };
  ControllerList controllers;
  const support::Bundle bundle(bundlePath);
  std::error_code ec;
  if (!fs::exists(bundle.infoPlistPath(), ec)) return controllers;
  std::string error;
  const auto info = support::readPropertyListFile(bundle.infoPlistPath(), &error);
  if (!info || !info->isDictionary()) {
    report(bundle.infoPlistPath().string() + ": " +
           (info ? std::string("not a dictionary") : error) + "; the bundle is skipped");
    return controllers;
  }
  const json::Dictionary& root = *info->asDictionary();
  bool codeTried = false;
  for (json::DictionaryPtr& description : deviceDescriptions(root)) {
    if (!descriptionMatches(*description, root, criteria)) continue;
    if (!codeTried) {
      codeTried = true;
      if (const auto loaded = loadBundleCode(bundle); !loaded) report(loaded.failure().message);
    }
    std::string className = textOf(*description, "Class");
    if (className.empty()) className = textOf(root, "NSPrincipalClass");
    if (className.empty()) className = std::string(kBaseControllerClass);
    const ControllerFactory make = controllerClass(className);
    if (!make) {
      report(bundlePath.string() + ": device \"" + textOf(*description, "Alias") +
             "\" names the controller class \"" + className +
             "\", which neither the library nor the bundle's code provides; the device is "
             "skipped");
      continue;
    }
    std::shared_ptr<DeviceController> controller = make(description, bundlePath);
    if (!controller) continue;
    controller->initialize();
    controllers.push_back(std::move(controller));
  }
  return controllers;
}

ZVDeviceManager& ZVDeviceManager::sharedZVDeviceManager() {
  // Made once, safely from any thread; never destroyed (controllers outlive main()).
  static ZVDeviceManager* instance = new ZVDeviceManager;
  return *instance;
}

fs::path ZVDeviceManager::deviceBundleDirectory() {
  if (const auto application = support::Bundle::main()) {
    std::error_code ec;
    if (fs::is_directory(application->builtInPlugInsPath(), ec)) {
      return application->builtInPlugInsPath();
    }
  }
  return platform::mainstreamDevicesFolder();
}

std::vector<fs::path> ZVDeviceManager::applicationDeviceFolders() {
  if (const auto application = support::Bundle::main()) {
    const fs::path builtIn = application->builtInPlugInsPath();
    if (!bundlesIn(builtIn).empty()) return {builtIn};
  }
  return {platform::mainstreamDevicesFolder(), platform::devicesFolder()};
}

ControllerList ZVDeviceManager::scanBundlesForDevicesMatchingCriteria(
    const json::DictionaryPtr& criteria) {
  return scanFolder(deviceBundleDirectory(), criteria);
}

ControllerList ZVDeviceManager::scanFolder(const fs::path& folder,
                                           const json::DictionaryPtr& criteria) {
  ControllerList result;
  const auto report = [this](const std::string& message) { problem(message); };
  for (const fs::path& bundle : bundlesIn(folder)) {
    if (!criteria) continue;
    ControllerList controllers = controllersFromBundleAtPath(bundle, *criteria, report);
    std::lock_guard lock(mutex_);
    for (const auto& controller : controllers) devicesByAlias_[controller->udid()] = controller;
    result.insert(result.end(), controllers.begin(), controllers.end());
  }
  return result;
}

const ControllerList& ZVDeviceManager::devices() {
  bool empty;
  {
    std::lock_guard lock(mutex_);
    empty = devices_.empty();
  }
  if (empty) {
    ControllerList scanned = scanBundlesForDevicesMatchingCriteria(json::makeDictionary());
    std::lock_guard lock(mutex_);
    devices_ = std::move(scanned);
  }
  return devices_;
}

ControllerList ZVDeviceManager::allControllers() {
  return scanBundlesForDevicesMatchingCriteria(json::makeDictionary());
}

std::shared_ptr<DeviceController> ZVDeviceManager::deviceWithAlias(std::string_view udid) const {
  std::lock_guard lock(mutex_);
  const auto found = devicesByAlias_.find(udid);
  return found == devicesByAlias_.end() ? nullptr : found->second;
}

std::map<std::string, std::shared_ptr<DeviceController>, std::less<>>
ZVDeviceManager::devicesByAlias() const {
  std::lock_guard lock(mutex_);
  return devicesByAlias_;
}

ZVDeviceManager::ProblemHandler ZVDeviceManager::setProblemHandler(ProblemHandler handler) {
  std::lock_guard lock(mutex_);
  return std::exchange(problemHandler_, std::move(handler));
}

void ZVDeviceManager::problem(const std::string& message) const {
  ProblemHandler handler;
  {
    std::lock_guard lock(mutex_);
    handler = problemHandler_;
  }
  if (handler) {
    handler(message);
  } else {
    logProblem(message);
  }
}

void ZVDeviceManager::reset() {
  std::lock_guard lock(mutex_);
  devices_.clear();
  devicesByAlias_.clear();
}

}  // namespace zv::device
