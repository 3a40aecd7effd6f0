// kinetra update compare A B | check [OPTIONS] | download [OPTIONS]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "Command.h"
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

const char* const kUsage =
    "usage: kinetra update compare A B\n"
    "       kinetra update check [--url URL] [--bundle B.bundle] [--device ALIAS] [--cacert FILE]\n"
    "       kinetra update download [same options as check]\n\n"
    "  compare A B   print 1 when B is the newer version, -1 when A is, 0 when they are equal\n"
    "  check         read the device's version list and print the newest version it offers\n"
    "                for the device's vendor and product ids, if newer than the installed one\n"
    "  download      check, then download that version's package into the cache\n"
    "                (~/.local/share/Kinetra/.installerCache/DEVICE/) and print its path;\n"
    "                a progress bar shows on a terminal. Install it with\n"
    "                'sudo apt-get install PATH'.\n\n"
    "  --url URL       the version list to read instead of the bundle's SoftwareUpdateURL\n"
    "                  (https: or file:)\n"
    "  --bundle B      the device bundle (default: the installed bundles, in name order)\n"
    "  --device ALIAS  the bundle's device with that \"Alias\" (default: the first)\n"
    "  --cacert FILE   trust the certificate authorities of this PEM file instead of the\n"
    "                  system's (a private update server)\n";

const Command& self() {
  return *findCommand("update");
}

int fail(const std::string& message) {
  std::cerr << "kinetra update: " << message << "\n";
  return 1;
}

struct Options {
  std::optional<std::string> url;
  std::string bundle;
  std::string device;
  std::string cacert;
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
    bundles.insert(bundles.end(), found.begin(), found.end());
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

std::optional<Options> parseOptions(const Arguments& args, int& status) {
  Options options;
  status = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    static const std::map<std::string, std::string Options::*> kText = {
        {"--bundle", &Options::bundle},
        {"--device", &Options::device},
        {"--cacert", &Options::cacert}};
    if (arg == "--url" || kText.count(arg)) {
      if (i + 1 >= args.size()) {
        usageError(self(), arg + " needs a value");
        return std::nullopt;
      }
      if (arg == "--url") {
        options.url = args[++i];
      } else {
        options.*kText.at(arg) = args[++i];
      }
    } else {
      usageError(self(), "unexpected argument '" + arg + "'");
      return std::nullopt;
    }
  }
  status = 0;
  return options;
}

int runCompare(const Arguments& args) {
  if (args.size() != 2) return usageError(self(), "compare takes two versions");
  const std::int32_t result = zv::update::CompareVersionStrings(args[0], args[1]);
  std::cout << (result > 0 ? 1 : result < 0 ? -1 : 0) << "\n";
  return 0;
}

int runCheckOrDownload(const Arguments& args, bool download) {
  int status = 0;
  const auto options = parseOptions(args, status);
  if (!options) return status;

  auto& loop = zv::platform::RunLoop::main();
  bool interrupted = false;
  // Before any thread starts (curl's resolver), so that every thread inherits the mask.
  loop.watchSignals({SIGINT, SIGTERM}, [&](int) { interrupted = true; });

  std::string error;
  const auto device = findDevice(*options, error);
  if (!device) return fail(error);
  zv::update::ZVSoftwareUpdateOptions updateOptions;
  updateOptions.updateURL = options->url;
  updateOptions.connection.certificateAuthorities = options->cacert;
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

int runUpdate(const Arguments& args) {
  if (args.empty()) return usageError(self(), "expected 'compare', 'check' or 'download'");
  const Arguments rest(args.begin() + 1, args.end());
  if (args[0] == "compare") return runCompare(rest);
  if (args[0] == "check") return runCheckOrDownload(rest, false);
  if (args[0] == "download") return runCheckOrDownload(rest, true);
  return usageError(self(), "unknown action '" + args[0] + "'");
}

const CommandRegistration registration("update", "check for and download software updates", kUsage,
                                       runUpdate);

}  // namespace
}  // namespace kinetra
