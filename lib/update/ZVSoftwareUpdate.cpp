#include "update/ZVSoftwareUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "device/DeviceController.h"
#include "platform/Paths.h"
#include "text/Unicode.h"
#include "update/CompareVersionStrings.h"
#include "update/VersionList.h"

namespace zv::update {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPackageExtension = ".deb";

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

std::string bundleText(const device::DeviceController& device, std::string_view key) {
  if (const json::Value* value = device.dictionary()->find(key); value && value->isString()) {
    return value->asString();
  }
  const json::Value value = device.bundle().objectForInfoDictionaryKey(key);
  return value.isString() ? value.asString() : std::string();
}

}  // namespace

ZVSoftwareUpdate::ZVSoftwareUpdate(std::shared_ptr<const device::DeviceController> device,
                                   ZVSoftwareUpdateDelegate* delegate,
                                   ZVSoftwareUpdateOptions options, platform::RunLoop& loop)
    : device_(std::move(device)), delegate_(delegate), options_(std::move(options)), loop_(loop) {
  updateURL_ = options_.updateURL ? *options_.updateURL : bundleText(*device_, "SoftwareUpdateURL");
  if (isPlainName(device_->name())) {
    pkgCachePath_ = platform::userDataFolder() / ".installerCache" / device_->name();
  }
  if (!options_.installer) options_.installer = std::make_shared<SystemPackageInstaller>(loop_);
  lookIntoCache();
}

ZVSoftwareUpdate::~ZVSoftwareUpdate() {
  dropPartialPackage();
}

const std::string& ZVSoftwareUpdate::installedVersion() const {
  return device_->softwareVersion();
}

std::vector<std::pair<fs::path, std::string>> ZVSoftwareUpdate::cachedPackages() const {
  // Only finished packages count: partial files begin with a dot, and anything else in
  // the folder is not ours to offer.
  std::vector<std::pair<fs::path, std::string>> packages;
  if (pkgCachePath_.empty()) return packages;
  std::error_code ec;
  for (fs::directory_iterator it(pkgCachePath_, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    if (path.extension() != kPackageExtension || name.front() == '.') continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    packages.emplace_back(path, path.stem().string());
  }
  return packages;
}

void ZVSoftwareUpdate::lookIntoCache() {
  const std::string& installed = device_->softwareVersion();
  std::optional<std::pair<fs::path, std::string>> newest;
  for (auto& [path, version] : cachedPackages()) {
    std::error_code ec;
    if (!isUsableVersionText(version) || CompareVersionStrings(version, installed) >= 0) {
      fs::remove(path, ec);  // not newer than what is installed
      continue;
    }
    if (!newest || CompareVersionStrings(newest->second, version) > 0)
      newest.emplace(path, version);
  }
  if (!newest) return;
  pkgFilePath_ = newest->first;
  availableVersion_ = newest->second;
  downloadPercentage_ = 100;
  if (delegate_) delegate_->softwareUpdateDownloadComplete(*this);
}

void ZVSoftwareUpdate::pruneCache() {
  for (const auto& [path, version] : cachedPackages()) {
    if (availableVersion_ && version == *availableVersion_) {
      pkgFilePath_ = path;
      downloadPercentage_ = 100;
      continue;
    }
    std::error_code ec;
    fs::remove(path, ec);
    if (pkgFilePath_ == path) {
      pkgFilePath_.reset();
      downloadPercentage_ = 0;
    }
  }
}

bool ZVSoftwareUpdate::check(std::string* error) {
  if (isBusy()) return false;
  if (updateURL_.empty()) {
    if (error) *error = device_->name() + " has no update location (\"SoftwareUpdateURL\")";
    return false;
  }
  return startRequest(Request::VersionList, updateURL_, kMaximumVersionListLength, error);
}

bool ZVSoftwareUpdate::download(std::string* error) {
  if (isBusy()) return false;
  if (!availableURL_ || !availableVersion_) {
    if (error) *error = "no newer version is available; check first";
    return false;
  }
  if (pkgCachePath_.empty()) {
    if (error) *error = "the device name '" + device_->name() + "' cannot name a cache folder";
    return false;
  }
  if (!startRequest(Request::Package, *availableURL_, kMaximumPackageLength, error)) return false;
  downloadVersion_ = *availableVersion_;
  return true;
}

bool ZVSoftwareUpdate::startRequest(Request kind, const std::string& url,
                                    std::int64_t maximumLength, std::string* error) {
  UrlConnectionOptions connection = options_.connection;
  if (connection.maximumLength <= 0 || connection.maximumLength > maximumLength) {
    connection.maximumLength = maximumLength;
  }
  downloadData_.clear();
  expectedLength_ = -1;
  downloadConnection_ = UrlConnection::start(url, *this, connection, loop_, error);
  if (!downloadConnection_) return false;
  currentRequest_ = kind;
  if (kind == Request::Package) downloadPercentage_ = 0;
  return true;
}

bool ZVSoftwareUpdate::install(std::string* error) {
  std::error_code ec;
  if (!pkgFilePath_ || !fs::is_regular_file(*pkgFilePath_, ec)) {
    if (error) *error = "no downloaded package to install";
    return false;
  }
  return options_.installer->install(*pkgFilePath_, error);
}

void ZVSoftwareUpdate::clearDownloadCache() {
  if (pkgCachePath_.empty()) return;
  std::error_code ec;
  for (fs::directory_iterator it(pkgCachePath_, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (!it->is_directory(ignored)) fs::remove(it->path(), ignored);
  }
}

bool ZVSoftwareUpdate::isPackageLocationAllowed(std::string_view location) const {
  if (!UrlConnection::isFollowedLocation(location)) return false;
  // A local file is only taken from a list that is itself local: a list from a server
  // must not make the updater pick up files of this computer.
  return !UrlConnection::isFileLocation(location) || UrlConnection::isFileLocation(updateURL_);
}

void ZVSoftwareUpdate::checkVersion(std::string_view text) {
  const VersionList list = parseVersionList(text);
  const std::string& installed = device_->softwareVersion();
  // The list decides what is available: a cached version it no longer offers is not.
  availableVersion_.reset();
  availableURL_.reset();
  for (const VersionListEntry& entry : list.entries) {
    if (static_cast<std::int64_t>(entry.vendorId) != device_->vendorId() ||
        static_cast<std::int64_t>(entry.productId) != device_->productId()) {
      continue;
    }
    if (CompareVersionStrings(versionView(availableVersion_), entry.version) <= 0) continue;
    if (CompareVersionStrings(installed, entry.version) <= 0) continue;
    if (!isPackageLocationAllowed(entry.location)) continue;
    availableVersion_ = entry.version;
    availableURL_ = entry.location;
    if (delegate_) delegate_->softwareUpdateNewVersionAvailable(*this, entry.version);
  }
}

void ZVSoftwareUpdate::connectionDidReceiveResponse(UrlConnection&, std::int64_t expectedLength) {
  downloadData_.clear();
  if (currentRequest_ != Request::Package) return;
  expectedLength_ = expectedLength;
  packageReceived_ = 0;
  std::string error;
  if (!openPartialPackage(&error)) {
    auto connection = std::move(downloadConnection_);
    failRequest(Request::Package, error);
  }
}

bool ZVSoftwareUpdate::openPartialPackage(std::string* error) {
  dropPartialPackage();
  std::error_code ec;
  fs::create_directories(pkgCachePath_, ec);
  if (ec) {
    *error = "cannot create " + pkgCachePath_.string() + ": " + ec.message();
    return false;
  }
  std::string name = (pkgCachePath_ / ".download-XXXXXX").string();
  partial_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (partial_ < 0) {
    *error = "cannot create a file in " + pkgCachePath_.string() + ": " + std::strerror(errno);
    return false;
  }
  partialPath_ = name;
  return true;
}

void ZVSoftwareUpdate::dropPartialPackage() {
  if (partial_ < 0) return;
  ::close(partial_);
  partial_ = -1;
  std::error_code ec;
  fs::remove(partialPath_, ec);
  partialPath_.clear();
}

void ZVSoftwareUpdate::connectionDidReceiveData(UrlConnection&, std::string_view data) {
  if (currentRequest_ != Request::Package) {
    downloadData_.append(data);
    return;
  }
  for (std::size_t written = 0; written < data.size();) {
    const ssize_t n = ::write(partial_, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string why = std::strerror(n < 0 ? errno : ENOSPC);
      auto connection = std::move(downloadConnection_);
      failRequest(Request::Package,
                  "cannot write the package to " + pkgCachePath_.string() + ": " + why);
      return;
    }
    written += static_cast<std::size_t>(n);
  }
  packageReceived_ += static_cast<std::int64_t>(data.size());
  // Without an announced length there is nothing to measure against; a server that
  // sends more than it announced does not push the figure past 100.
  int percentage = 0;
  if (expectedLength_ > 0) {
    const float fraction =
        static_cast<float>(packageReceived_) / static_cast<float>(expectedLength_);
    percentage = static_cast<int>(std::min(fraction * 100.0f, 100.0f));
  }
  downloadPercentage_ = percentage;
  if (delegate_) delegate_->softwareUpdateDownloadProgress(*this, percentage);
}

void ZVSoftwareUpdate::connectionDidFinishLoading(UrlConnection&) {
  const Request finished = currentRequest_;
  currentRequest_ = Request::None;
  auto connection = std::move(downloadConnection_);
  if (finished == Request::VersionList) {
    const std::string text = std::exchange(downloadData_, std::string());
    checkVersion(text);
    pruneCache();
    if (delegate_) delegate_->softwareUpdateCheckComplete(*this);
    return;
  }
  finishPackage();
}

void ZVSoftwareUpdate::finishPackage() {
  // Named after the version whose location was fetched: a check that announced a newer
  // version meanwhile does not rename it.
  const fs::path path = pkgCachePath_ / (downloadVersion_ + std::string(kPackageExtension));
  if (partial_ < 0) {
    // An empty body never started a response: the file is made now.
    std::string error;
    if (!openPartialPackage(&error)) {
      failRequest(Request::Package, error);
      return;
    }
  }
  const bool synced = ::fsync(partial_) == 0;
  const int closed = ::close(partial_);
  partial_ = -1;
  std::error_code ec;
  if (!synced || closed != 0) {
    const std::string why = std::strerror(errno);
    fs::remove(partialPath_, ec);
    failRequest(Request::Package, "cannot write the package to " + path.string() + ": " + why);
    return;
  }
  ::chmod(partialPath_.c_str(), 0644);
  fs::rename(partialPath_, path, ec);
  if (ec) {
    fs::remove(partialPath_, ec);
    failRequest(Request::Package, "cannot save " + path.string() + ": " + ec.message());
    return;
  }
  partialPath_.clear();
  pkgFilePath_ = path;
  downloadPercentage_ = 100;
  if (delegate_) delegate_->softwareUpdateDownloadComplete(*this);
}

void ZVSoftwareUpdate::connectionDidFail(UrlConnection&, const std::string& message) {
  auto connection = std::move(downloadConnection_);
  failRequest(currentRequest_, message);
}

void ZVSoftwareUpdate::failRequest(Request failed, const std::string& message) {
  // A broken download leaves no percentage that reads as "complete".
  if (failed == Request::Package) downloadPercentage_ = 0;
  currentRequest_ = Request::None;
  downloadData_.clear();
  dropPartialPackage();
  expectedLength_ = -1;
  if (delegate_) delegate_->softwareUpdateFailed(*this, message);
}

}  // namespace zv::update
