// The controller classes a device description can name in "Class": DeviceController
// itself, and the specialisations that device bundles supply in code of their own.
//
// A bundle's code is Contents/Linux/<Name>.so, where Name is the bundle's
// "CFBundleExecutable", else the bundle folder's name without ".bundle". It links
// libZVDeviceLib and exports one C function, kRegisterControllerClassesSymbol, which the
// library calls once after loading it; that function registers the bundle's classes:
//
//   extern "C" void ZVRegisterControllerClasses() {
//     zv::device::registerControllerClass("AcmeController", [](auto description, auto path) {
//       return std::make_shared<AcmeController>(std::move(description), path);
//     });
//   }
//
// Threads: the main thread (device scans).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "json/Value.h"
#include "support/Bundle.h"

namespace zv::device {

class DeviceController;

// Makes an (uninitialised) controller from a completed description and its bundle.
using ControllerFactory = std::function<std::shared_ptr<DeviceController>(
    json::DictionaryPtr description, const std::filesystem::path& bundlePath)>;

inline constexpr std::string_view kBaseControllerClass = "DeviceController";
inline constexpr const char* kRegisterControllerClassesSymbol = "ZVRegisterControllerClasses";

// Registers (or replaces) a class under its name.
void registerControllerClass(std::string name, ControllerFactory factory);
// The factory of a class; empty when no class of that name exists.
ControllerFactory controllerClass(std::string_view name);

// Where the bundle's code would be (whether or not it exists).
std::filesystem::path bundleCodePath(const support::Bundle& bundle);
// The bundle's code does not load, or lacks the registration function.
inline constexpr const char* kBundleCodeDomain = "BundleCode";
enum BundleCodeCode { kBundleCodeNotLoaded = 1 };

// Loads the bundle's code once per process and runs its registration. Success when the
// bundle has no code or it loaded; a failure with the loader's reason when it does not
// load or lacks the registration function (asked again, it answers the same).
base::Result<void> loadBundleCode(const support::Bundle& bundle);

}  // namespace zv::device
