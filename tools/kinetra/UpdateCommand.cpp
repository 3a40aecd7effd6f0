// kinetra update compare A B | check [OPTIONS] | download [OPTIONS]
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "Command.h"
#include "Report.h"
#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "update/CompareVersionStrings.h"
#include "update/ZVSoftwareUpdate.h"

namespace kinetra {
namespace {

namespace fs = std::filesystem;
using zv::update::ZVSoftwareUpdate;

constexpr const char* kName = "update";

int fail(const std::string& message) {
  return kinetra::fail(kName, message);
}

struct Options {
  std::optional<std::string> url;
  std::string bundle;
  std::string device;
  std::string cacert;
  long long timeLimitMinutes = 30;
};

// The bundles to look through: the one given, else every installed one in name order.
std::vector<fs::path> candidateBundles(const Options& options) {
  if (!options.bundle.empty()) return {options.bundle};
  std::vector<fs::path> bundles;
  for (const fs::path& folder :
       {zv::platform::mainstreamDevicesFolder(), zv::platform::devicesFolder()}) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() == ".bundle") found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    // Devices holds links to the bundles of MainstreamDevices: each bundle once.
    for (const fs::path& bundle : found) {
      const fs::path real = fs::weakly_canonical(bundle, ec);
      const bool seen = std::any_of(bundles.begin(), bundles.end(), [&](const fs::path& known) {
        std::error_code other;
        return fs::weakly_canonical(known, other) == real;
      });
      if (!seen) bundles.push_back(bundle);
    }
  }
  return bundles;
}

std::shared_ptr<zv::device::DeviceController> findDevice(const Options& options,
                                                         std::string& error) {
  const auto bundles = candidateBundles(options);
  if (bundles.empty()) {
    error = "no device bundles in " + zv::platform::mainstreamDevicesFolder().string() + " or " +
            zv::platform::devicesFolder().string() + " (give --bundle B.bundle)";
    return nullptr;
  }
  std::string known;
  for (const fs::path& bundle : bundles) {
    std::error_code ec;
    if (!fs::is_directory(bundle, ec)) {
      error = bundle.string() + ": no such device bundle";
      return nullptr;
    }
    for (const auto& description : zv::device::deviceDescriptions(zv::support::Bundle(bundle))) {
      const zv::json::Value* alias = description->find("Alias");
      const std::string name = alias && alias->isString() ? alias->asString() : std::string();
      if (options.device.empty() || name == options.device) {
        return std::make_shared<zv::device::DeviceController>(description, bundle);
      }
      known += (known.empty() ? "" : ", ") + name;
    }
  }
  error = options.device.empty()
              ? "the device bundles describe no device"
              : "no device with alias '" + options.device + "' (known: " + known + ")";
  return nullptr;
}

// Prints what the updater reports; draws the progress bar on a terminal.
class Reporter : public zv::update::ZVSoftwareUpdateDelegate {
 public:
  void softwareUpdateNewVersionAvailable(ZVSoftwareUpdate&, const std::string& version) override {
    announced.push_back(version);
  }
  void softwareUpdateDownloadProgress(ZVSoftwareUpdate& updater, int percentage) override {
    if (!terminal_ || percentage == shown_) return;
    shown_ = percentage;
    constexpr int kWidth = 30;
    const int filled = percentage * kWidth / 100;
    std::cerr << "\rdownloading " << updater.availableVersion().value_or("") << " ["
              << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << percentage
              << "%" << std::flush;
    drawn_ = true;
  }
  void softwareUpdateFailed(ZVSoftwareUpdate&, const std::string& message) override {
    endLine();
    failure = message;
  }
  void endLine() {
    if (drawn_) std::cerr << "\n";
    drawn_ = false;
  }

  std::vector<std::string> announced;
  std::optional<std::string> failure;

 private:
  const bool terminal_ = ::isatty(STDERR_FILENO) == 1;
  int shown_ = -1;
  bool drawn_ = false;
};

int runCompare(const std::string& a, const std::string& b) {
  const std::int32_t result = zv::update::CompareVersionStrings(a, b);
  std::cout << (result > 0 ? 1 : result < 0 ? -1 : 0) << "\n";
  return 0;
}

int runCheckOrDownload(const Options& options, bool download) {
  auto& loop = zv::platform::RunLoop::main();
  bool interrupted = false;
  // Before any thread starts (curl's resolver), so that every thread inherits the mask.
  loop.watchSignals({SIGINT, SIGTERM}, [&](int) { interrupted = true; });

  std::string error;
  const auto device = findDevice(options, error);
  if (!device) return fail(error);
  zv::update::ZVSoftwareUpdateOptions updateOptions;
  updateOptions.updateURL = options.url;
  updateOptions.connection.certificateAuthorities = options.cacert;
  updateOptions.connection.totalTimeout = std::chrono::minutes(options.timeLimitMinutes);
  Reporter reporter;
  ZVSoftwareUpdate updater(device, &reporter, updateOptions, loop);

  const auto wait = [&] {
    while (!interrupted && updater.isBusy()) loop.dispatchPending(std::chrono::milliseconds(-1));
    reporter.endLine();
  };
  const std::string who = device->name() + " " + updater.installedVersion();
  const auto cached = updater.packageFilePath();
  if (!updater.check(&error)) return fail(error);
  wait();
  if (interrupted) return fail("interrupted");
  if (reporter.failure) return fail(*reporter.failure);

  if (!download) {
    if (reporter.announced.empty()) {
      std::cout << who << ": no newer version in " << updater.updateURL() << "\n";
    } else {
      std::cout << who << ": version " << *updater.availableVersion() << " is available at "
                << *updater.availableURL() << "\n";
    }
    if (cached && !updater.availableURL()) {
      std::cout << "downloaded package ready: " << cached->string() << "\n";
    }
    return 0;
  }
  if (!updater.availableURL()) {
    if (cached) {
      std::cout << cached->string() << "\n";
      return 0;
    }
    std::cerr << "kinetra update: " << who << " is up to date\n";
    return 0;
  }
  if (!updater.download(&error)) return fail(error);
  wait();
  if (interrupted) return fail("interrupted; nothing was saved");
  if (reporter.failure) return fail(*reporter.failure);
  std::cout << updater.packageFilePath()->string() << "\n";
  return 0;
}

void addDeviceOptions(CLI::App& command, Options& options) {
  command
      .add_option("--url", options.url, "read this list (https: or file:), not SoftwareUpdateURL")
      ->type_name("URL");
  command.add_option("--bundle", options.bundle, "the device bundle (default: the installed ones)")
      ->type_name("B.bundle");
  command
      .add_option("--device", options.device,
                  "the bundle's device with that \"Alias\" (default: the first)")
      ->type_name("ALIAS");
  command
      .add_option("--cacert", options.cacert,
                  "trust the authorities in this PEM file (a private server)")
      ->type_name("FILE");
  command
      .add_option("--time-limit", options.timeLimitMinutes,
                  "give up a request that has not ended after MINUTES (default 30)")
      ->check(CLI::Range(1LL, 24LL * 60))
      ->type_name("MINUTES");
}

void define(CLI::App& command) {
  auto versions = std::make_shared<std::pair<std::string, std::string>>();
  CLI::App* compare = command.add_subcommand(
      "compare", "print 1 when B is the newer version, -1 when A is, 0 when they are equal");
  compare->add_option("A", versions->first, "a version such as 1.2.5")->required();
  compare->add_option("B", versions->second, "another version")->required();
  setAction(*compare, [versions] { return runCompare(versions->first, versions->second); });

  auto options = std::make_shared<Options>();
  CLI::App* check = command.add_subcommand(
      "check", "print the newest version the device's version list offers, if newer");
  check->footer(
      "Reads the version list of the device bundle's SoftwareUpdateURL and compares the\n"
      "entries for the device's vendor and product ids with the installed version.\n");
  addDeviceOptions(*check, *options);
  setAction(*check, [options] { return runCheckOrDownload(*options, false); });

  CLI::App* download =
      command.add_subcommand("download", "check, then download the newer version's package");
  download->footer(
      "Saves the package in ~/.local/share/Kinetra/.installerCache/DEVICE/ and prints its\n"
      "path; a progress bar shows on a terminal. Install it with\n"
      "'sudo apt-get install PATH'.\n");
  addDeviceOptions(*download, *options);
  setAction(*download, [options] { return runCheckOrDownload(*options, true); });
}

const CommandRegistration registration(kName, "check for and download software updates", define);

}  // namespace
}  // namespace kinetra
