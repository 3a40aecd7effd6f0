// Finds the installed device bundles, selects the device descriptions that match given
// criteria and makes one DeviceController for each. One instance per process.
//
// Scan: every path below the bundle folder that ends in ".bundle" is a bundle (nested
// ones too), taken in path order so that a scan answers the same on every run. For each
// description of a bundle (its Info.plist "Devices" values, completed with the root's
// defaults) every criterion must equal the description's own value, or else the root's
// value for that key; the first criterion that matches neither rejects the description.
// Values are compared with their types: the text "1" never equals the number 1. A
// matching description is made into a controller of its "Class" (else the bundle's
// "NSPrincipalClass", else DeviceController; see ControllerClasses.h) and initialised,
// which registers its driver interfaces.
//
// Problems a user must hear of (a damaged Info.plist, bundle code that does not load, a
// class nobody provides) go to the problem handler: the log unless a program sets
// another (a tool prints them, an application shows them). A class that does not exist
// skips that description; code that does not load still lets the description's
// controller be made.
//
// Threads: the main thread; creating the instance is safe from any thread.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "json/Value.h"

namespace zv::device {

class DeviceController;

using ControllerList = std::vector<std::shared_ptr<DeviceController>>;

class ZVDeviceManager {
 public:
  using ProblemHandler = std::function<void(const std::string& message)>;

  static ZVDeviceManager& sharedZVDeviceManager();
  static ZVDeviceManager& sharedDeviceManager() { return sharedZVDeviceManager(); }
  ZVDeviceManager(const ZVDeviceManager&) = delete;
  ZVDeviceManager& operator=(const ZVDeviceManager&) = delete;

  // The running application's built-in plug-ins folder when it exists (then only it is
  // scanned), else the installed MainstreamDevices folder.
  static std::filesystem::path deviceBundleDirectory();
  // Where an application looks for its devices: the built-in plug-ins folder when it holds
  // a device bundle, else the installed MainstreamDevices and Devices folders (an
  // application folder always has a plug-ins folder, often empty, which must not hide
  // the installed bundles).
  static std::vector<std::filesystem::path> applicationDeviceFolders();

  // The controllers of every matching description of every bundle, in bundle order and
  // then in the order of each bundle's descriptions; each call makes new controllers and
  // enters them in devicesByAlias. No criteria at all (null) make nothing; an empty
  // dictionary matches every description.
  ControllerList scanBundlesForDevicesMatchingCriteria(const json::DictionaryPtr& criteria);
  // The same for another folder (a tool inspecting bundles that are not installed).
  ControllerList scanFolder(const std::filesystem::path& folder,
                            const json::DictionaryPtr& criteria);

  // The controllers of the first full scan, made at the first call and then kept.
  const ControllerList& devices();
  // A fresh full scan, not kept.
  ControllerList allControllers();
  // The controller last entered under the udid ("<Alias>-<TypeID>"); null when none.
  std::shared_ptr<DeviceController> deviceWithAlias(std::string_view udid) const;
  std::map<std::string, std::shared_ptr<DeviceController>, std::less<>> devicesByAlias() const;

  // Where problems go (see above); empty restores the log. Answers the handler before.
  ProblemHandler setProblemHandler(ProblemHandler handler);
  // Forgets devices() and devicesByAlias (tests and tools that scan again from scratch).
  void reset();

 private:
  ZVDeviceManager() = default;
  void problem(const std::string& message) const;

  mutable std::mutex mutex_;
  ControllerList devices_;
  std::map<std::string, std::shared_ptr<DeviceController>, std::less<>> devicesByAlias_;
  ProblemHandler problemHandler_;
};

// One bundle's controllers: its descriptions that match the criteria, made and
// initialised (see above). Problems go to `problem` when given, else to the log.
ControllerList controllersFromBundleAtPath(
    const std::filesystem::path& bundlePath, const json::Dictionary& criteria,
    const std::function<void(const std::string&)>& problem = {});

// Whether the description matches every criterion, falling back to the bundle's root
// dictionary key by key.
bool descriptionMatches(const json::Dictionary& description, const json::Dictionary& root,
                        const json::Dictionary& criteria);

}  // namespace zv::device
