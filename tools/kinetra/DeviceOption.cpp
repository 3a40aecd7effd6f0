#include "DeviceOption.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>

#include "PrototypeOption.h"
#include "device/DeviceDescriptions.h"
#include "engine/ZVProfile.h"
#include "platform/Paths.h"

namespace kinetra {

namespace fs = std::filesystem;

namespace {

struct Candidate {
  zv::json::DictionaryPtr description;
  fs::path bundle;
};

// An installation links each bundle of MainstreamDevices into Devices as well: a bundle
// reached twice is one bundle, counted once.
void collectBundle(const fs::path& bundle, std::vector<Candidate>& found) {
  std::error_code ec;
  const fs::path real = fs::canonical(bundle, ec);
  for (const auto& candidate : found) {
    std::error_code other;
    if (!ec && fs::canonical(candidate.bundle, other) == real && !other) return;
  }
  for (auto& description : zv::device::deviceDescriptions(zv::support::Bundle(bundle))) {
    found.push_back({std::move(description), bundle});
  }
}

// Every device of the bundles at or below `folder`.
void collect(const fs::path& folder, std::vector<Candidate>& found) {
  std::error_code ec;
  if (folder.extension() == ".bundle" && fs::is_directory(folder, ec)) {
    collectBundle(folder, found);
    return;
  }
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code typeError;
    if (it->path().extension() == ".bundle" && it->is_directory(typeError)) {
      collectBundle(it->path(), found);
    }
  }
}

std::string aliasOf(const Candidate& candidate) {
  const zv::json::Value* alias = candidate.description->find("Alias");
  return alias && alias->isString() ? alias->asString() : std::string();
}

}  // namespace

void addDeviceOptions(CLI::App& command, DeviceOptions& options) {
  command
      .add_option("--device", options.alias,
                  "the device with this \"Alias\" (when several are installed)")
      ->type_name("ALIAS");
  command
      .add_option(
          "--bundle", options.bundle,
          "find the device in this bundle or folder of bundles instead of the installed ones")
      ->type_name("PATH");
}

std::shared_ptr<zv::device::DeviceController> openDevice(const DeviceOptions& options,
                                                         std::string& error) {
  std::vector<Candidate> found;
  std::string searched;
  if (!options.bundle.empty()) {
    collect(options.bundle, found);
    searched = options.bundle;
  } else {
    for (const fs::path& folder :
         {zv::platform::mainstreamDevicesFolder(), zv::platform::devicesFolder()}) {
      collect(folder, found);
      searched += (searched.empty() ? "" : " and ") + folder.string();
    }
  }
  std::vector<Candidate> matching;
  for (const auto& candidate : found) {
    if (options.alias.empty() || aliasOf(candidate) == options.alias) matching.push_back(candidate);
  }
  if (matching.size() != 1) {
    std::string known;
    for (const auto& candidate : found) known += (known.empty() ? "" : ", ") + aliasOf(candidate);
    if (found.empty()) {
      error = "no device bundle found in " + searched + " (give --bundle PATH)";
    } else if (matching.empty()) {
      error = "no device with alias '" + options.alias + "' (found: " + known + ")";
    } else {
      error = "several devices are installed (" + known + "); choose one with --device ALIAS";
    }
    return nullptr;
  }
  auto prototype = loadPrototypeOption("", error);
  if (!prototype) return nullptr;
  zv::engine::ZVProfile::setSharedPrototype(prototype);
  zv::device::DeviceController::setIsExecutive(false);
  auto device = std::make_shared<zv::device::DeviceController>(matching.front().description,
                                                               matching.front().bundle);
  if (!zv::store::ZVProfileStore::openForDevice(device)) {
    error = "cannot open the profile store of " + device->name();
    return nullptr;
  }
  return device;
}

std::shared_ptr<zv::store::ZVProfileStore> storeOf(const zv::device::DeviceController& device) {
  return std::dynamic_pointer_cast<zv::store::ZVProfileStore>(device.profileStore());
}

}  // namespace kinetra
