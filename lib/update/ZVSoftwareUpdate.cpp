#include "update/ZVSoftwareUpdate.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "device/DeviceController.h"
#include "platform/AtomicFile.h"
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

ZVSoftwareUpdate::~ZVSoftwareUpdate() = default;

const std::string& ZVSoftwareUpdate::installedVersion() const {
  return device_->softwareVersion();
}

void ZVSoftwareUpdate::lookIntoCache() {
  if (pkgCachePath_.empty()) return;
  // Only finished packages count: the partial files of an interrupted save end in a
  // random suffix, and anything else in the folder is not ours to offer.
  std::vector<fs::path> packages;
  std::error_code ec;
  for (fs::directory_iterator it(pkgCachePath_, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    if (path.extension() != kPackageExtension || name.front() == '.') continue;
    if (!it->is_regular_file(ec)) continue;
    packages.push_back(path);
  }
  if (packages.empty()) return;
  const fs::path first = *std::min_element(packages.begin(), packages.end());
  const std::string version = first.stem().string();
  if (isUsableVersionText(version) &&
      CompareVersionStrings(version, device_->softwareVersion()) < 0) {
    pkgFilePath_ = first;
    availableVersion_ = version;
    downloadPercentage_ = 100;
    if (delegate_) delegate_->softwareUpdateDownloadComplete(*this);
    return;
  }
  fs::remove(first, ec);
  downloadPercentage_ = 0;
  pkgFilePath_.reset();
  availableVersion_.reset();
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
  if (currentRequest_ == Request::Package) expectedLength_ = expectedLength;
  downloadData_.clear();
}

void ZVSoftwareUpdate::connectionDidReceiveData(UrlConnection&, std::string_view data) {
  downloadData_.append(data);
  if (currentRequest_ != Request::Package) return;
  // Without an announced length there is nothing to measure against; a server that
  // sends more than it announced does not push the figure past 100.
  int percentage = 0;
  if (expectedLength_ > 0) {
    const float fraction =
        static_cast<float>(downloadData_.size()) / static_cast<float>(expectedLength_);
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
    if (delegate_) delegate_->softwareUpdateCheckComplete(*this);
    return;
  }
  finishPackage();
}

void ZVSoftwareUpdate::finishPackage() {
  const std::string data = std::exchange(downloadData_, std::string());
  // Named after the version whose location was fetched: a check that announced a newer
  // version meanwhile does not rename it.
  const fs::path path = pkgCachePath_ / (downloadVersion_ + std::string(kPackageExtension));
  std::error_code ec;
  fs::create_directories(pkgCachePath_, ec);
  if (ec) {
    failRequest(Request::Package, "cannot create " + pkgCachePath_.string() + ": " + ec.message());
    return;
  }
  if (const auto written = platform::writeFileAtomically(path, data); !written) {
    failRequest(Request::Package, written.failure().message);
    return;
  }
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
  expectedLength_ = -1;
  if (delegate_) delegate_->softwareUpdateFailed(*this, message);
}

}  // namespace zv::update
