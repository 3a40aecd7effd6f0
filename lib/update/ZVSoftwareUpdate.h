// Updates of the suite for one device: reads the version list of the device bundle's
// "SoftwareUpdateURL", finds the newest version for the device's vendor and product
// ids, downloads that package into a per-device cache on request and hands it to the
// system's package tool.
//
// The cache is "<user data>/.installerCache/<device name>/" (platform/Paths.h), holding
// "<version>.deb" files. At creation the newest package there is offered at once when it
// is newer than the installed software; packages not newer than the installed software
// are deleted. Each successful check deletes every package but the one of the newest
// version the list offers: older ones, and those the list no longer offers.
//
// A package is written to a temporary file in the cache folder as it arrives (the memory
// a download takes does not grow with the package) and takes its name when complete; a
// failed or cancelled download removes it.
//
// One request runs at a time: check() and download() are refused while a check or a
// download is in progress. A failed request is reported to the delegate and leaves the
// updater idle, so a later check works.
//
// Thread affinity: create, use and destroy on the run loop's thread (the main thread
// for RunLoop::main()); delegate calls arrive there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/RunLoop.h"
#include "update/PackageInstaller.h"
#include "update/UrlConnection.h"
#include "update/ZVSoftwareUpdateDelegate.h"

namespace zv::device {
class DeviceController;
}

namespace zv::update {

// Longest version list read (a list has one short line per device and version).
inline constexpr std::int64_t kMaximumVersionListLength = 4 * 1024 * 1024;
// Largest package downloaded (written to the cache as it arrives).
inline constexpr std::int64_t kMaximumPackageLength = 1024LL * 1024 * 1024;

struct ZVSoftwareUpdateOptions {
  // Replaces the bundle's "SoftwareUpdateURL" (kinetra update --url).
  std::optional<std::string> updateURL;
  // Certificate authorities and timeouts of every request.
  UrlConnectionOptions connection;
  // Installs downloaded packages; the system's package tool when null.
  std::shared_ptr<PackageInstaller> installer;
};

class ZVSoftwareUpdate : private UrlConnectionDelegate {
 public:
  // `initForDevice:`. Looks into the cache at once; a usable cached package is announced
  // to `delegate` (when given) before the constructor returns.
  ZVSoftwareUpdate(std::shared_ptr<const device::DeviceController> device,
                   ZVSoftwareUpdateDelegate* delegate = nullptr,
                   ZVSoftwareUpdateOptions options = {},
                   platform::RunLoop& loop = platform::RunLoop::main());
  ~ZVSoftwareUpdate() override;
  ZVSoftwareUpdate(const ZVSoftwareUpdate&) = delete;
  ZVSoftwareUpdate& operator=(const ZVSoftwareUpdate&) = delete;

  // Starts reading the version list. False when busy (no error is set) or when the update
  // location is missing or refused (`error` says why).
  bool check(std::string* error = nullptr);
  // Starts downloading the available version's package. False when busy, when no version
  // is available, or when its location is refused (`error` says why, except when busy).
  bool download(std::string* error = nullptr);
  // Hands the downloaded package to the system's package tool; never runs it. False with
  // `error` when there is no package or no tool could be started.
  bool install(std::string* error = nullptr);
  // Removes every file directly inside the cache folder.
  void clearDownloadCache();

  // `checkVersion:`: reads a version list and announces each newer matching entry.
  void checkVersion(std::string_view text);

  bool isBusy() const { return currentRequest_ != Request::None; }
  const std::optional<std::string>& availableVersion() const { return availableVersion_; }
  const std::optional<std::string>& availableURL() const { return availableURL_; }
  int downloadPercentage() const { return downloadPercentage_; }
  // The cached or downloaded package, when there is one.
  const std::optional<std::filesystem::path>& packageFilePath() const { return pkgFilePath_; }
  // Empty when the device's name cannot name a folder (the cache is then not used).
  const std::filesystem::path& cacheFolder() const { return pkgCachePath_; }
  // The update location in use: the option, else the bundle's; empty when there is none.
  const std::string& updateURL() const { return updateURL_; }
  const std::string& installedVersion() const;

  ZVSoftwareUpdateDelegate* delegate() const { return delegate_; }
  void setDelegate(ZVSoftwareUpdateDelegate* delegate) { delegate_ = delegate; }

 private:
  enum class Request { None, VersionList, Package };

  void lookIntoCache();
  // The finished packages in the cache, with their versions.
  std::vector<std::pair<std::filesystem::path, std::string>> cachedPackages() const;
  // After a successful check: deletes every package but the available version's.
  void pruneCache();
  bool openPartialPackage(std::string* error);
  void dropPartialPackage();
  bool startRequest(Request kind, const std::string& url, std::int64_t maximumLength,
                    std::string* error);
  bool isPackageLocationAllowed(std::string_view location) const;
  void finishPackage();
  void failRequest(Request failed, const std::string& message);

  void connectionDidReceiveResponse(UrlConnection& connection,
                                    std::int64_t expectedLength) override;
  void connectionDidReceiveData(UrlConnection& connection, std::string_view data) override;
  void connectionDidFinishLoading(UrlConnection& connection) override;
  void connectionDidFail(UrlConnection& connection, const std::string& message) override;

  std::shared_ptr<const device::DeviceController> device_;
  std::string updateURL_;
  std::filesystem::path pkgCachePath_;
  std::optional<std::filesystem::path> pkgFilePath_;
  std::optional<std::string> availableVersion_;
  std::optional<std::string> availableURL_;
  Request currentRequest_ = Request::None;
  std::unique_ptr<UrlConnection> downloadConnection_;
  std::string downloadVersion_;       // the version the package download is for
  std::int64_t expectedLength_ = -1;  // of the package download's response
  std::string downloadData_;          // the version list's text
  int partial_ = -1;                  // the package being written
  std::filesystem::path partialPath_;
  std::int64_t packageReceived_ = 0;
  int downloadPercentage_ = 0;
  ZVSoftwareUpdateDelegate* delegate_ = nullptr;

  ZVSoftwareUpdateOptions options_;
  platform::RunLoop& loop_;
};

}  // namespace zv::update
