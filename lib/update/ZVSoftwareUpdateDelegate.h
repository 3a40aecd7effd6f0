// What a software update tells the window that shows it. Every operation is optional.
// Calls arrive on the updater's run loop thread. A delegate must not destroy the updater
// from inside one of these calls (post the destruction to the loop instead).
#pragma once

#include <string>

namespace zv::update {

class ZVSoftwareUpdate;

class ZVSoftwareUpdateDelegate {
 public:
  virtual ~ZVSoftwareUpdateDelegate() = default;
  // `softwareUpdate:newVersionAvailable:`: a version newer than the installed one and
  // than any announced before was found in the version list.
  virtual void softwareUpdateNewVersionAvailable(ZVSoftwareUpdate& /*updater*/,
                                                 const std::string& /*version*/) {}
  // `softwareUpdate:downloadProgress:`: after each received piece of the package, 0 to
  // 100 (0 throughout when the server announces no length).
  virtual void softwareUpdateDownloadProgress(ZVSoftwareUpdate& /*updater*/, int /*percentage*/) {}
  // `softwareUpdateDownloadComplete:`: the package is in the cache.
  virtual void softwareUpdateDownloadComplete(ZVSoftwareUpdate& /*updater*/) {}
  // The version list has been read (after any softwareUpdateNewVersionAvailable).
  virtual void softwareUpdateCheckComplete(ZVSoftwareUpdate& /*updater*/) {}
  // A check or a download failed; the updater is idle again. `message` says why.
  virtual void softwareUpdateFailed(ZVSoftwareUpdate& /*updater*/, const std::string& /*message*/) {
  }
};

}  // namespace zv::update
