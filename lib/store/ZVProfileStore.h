// The profiles of one device model: a folder of profile files (".pr0") in the console
// user's data folder, plus a hidden info file that records the current profile, the
// start-up profile and the device's settings. Every process that works on the device's
// profiles (the agent, the editor, the settings tools) has a store on the same folder;
// they meet in the info file, which each rewrites in place and each watches and re-reads
// (the last writer wins).
//
//   <console user's home>/.local/share/Kinetra/             applicationSupportFolder()
//     <ProfilePath>/                                        profilePath()
//       .profileStore-<Name>-<VendorID>-<ProductID>-<TypeID>.info   (without "TypeID":
//                                                            .profileStore-<Name>-<ProductID>.info)
//       <name>.pr0                                          one profile each (any depth)
//
// The device bundle supplies the default profile (its "DefaultProfile" resource, listed
// first under "DefaultProfileName", read-only: it is never renamed, deleted or copied)
// and the seed profile new profiles are made from ("SeedProfile").
//
// The current profile is chosen at the first readInfo(): the executive process (the
// agent, DeviceController::isExecutive()) takes the start-up profile and records it for
// every other process; any other process takes the recorded current profile. A missing
// file falls back to the default profile. In the no-profile state ("NoProfile" in the
// settings) no profile is loaded.
//
// Renames by other processes: a rename in the folder is seen as a change of the folder,
// and readDirectory() lists what is there, so a renamed profile appears once under its
// new name. When the current profile's file was renamed, the store recognises it by its
// file identity and follows it to the new name.
//
// Threads: everything is meant for the main thread, where the file watch delivers its
// changes. readInfo(), writeInfo() and profileNames() hold the store's lock (recursive),
// so profileNames() and the plain accessors may also be called from other threads.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "device/ProfileStoreInterface.h"
#include "json/Value.h"
#include "platform/VDKQueue.h"
#include "store/ProfileStoreInfo.h"
#include "store/SharedFile.h"
#include "store/ZVProfileStoreDelegate.h"

namespace zv::device {
class DeviceController;
}
namespace zv::engine {
class ZVProfile;
}

namespace zv::store {

class ZVProfileStore : public device::ProfileStoreInterface,
                       public platform::VDKQueueDelegate,
                       public std::enable_shared_from_this<ZVProfileStore> {
 public:
  // Untitled1 … Untitled10000: createUntitledProfile() looks no further.
  static constexpr int kUntitledLimit = 10'000;

  // --- Class operations ---------------------------------------------------------------

  // "<console user's home>/.local/share/Kinetra", created (with its parents) when missing.
  static std::filesystem::path applicationSupportFolder();
  // applicationSupportFolder() / brand.
  static std::filesystem::path profilePathForBrand(const std::string& brand);
  // The device's profile folder and info file (nothing is created).
  static std::filesystem::path profileFolderForDevice(const device::DeviceController& device);
  static std::string infoFileNameForDevice(const device::DeviceController& device);
  static bool profileStoreExistsForDevice(const device::DeviceController& device);
  // A new store for the device (initWithDevice:): creates the folder and an empty info
  // file when missing, and watches both. The device is held weakly (it owns the store).
  static std::shared_ptr<ZVProfileStore> profileStoreForDevice(
      const std::shared_ptr<device::DeviceController>& device);
  // What the device controller does when its device appears: profileStoreForDevice(),
  // set as the device's store, readInfo(), readDirectory(), and create() when the info
  // file was missing.
  static std::shared_ptr<ZVProfileStore> openForDevice(
      const std::shared_ptr<device::DeviceController>& device);

  ~ZVProfileStore() override;
  ZVProfileStore(const ZVProfileStore&) = delete;
  ZVProfileStore& operator=(const ZVProfileStore&) = delete;

  // --- Reading and writing the store ----------------------------------------------------

  // Reads the info file: settings, the start-up profile, and the current profile, which is
  // loaded and made active when it changed (see above). A damaged or half-written file
  // is read a second time after a short pause. A file still damaged then is logged
  // (Critical, with its path and the line at fault) and changes nothing; the store
  // writes nothing to it (writeInfo() and the setters refuse) until it reads again or
  // resetInfo() replaces it. A current profile that does not load is logged (Critical,
  // with the loader's message) and the profile running before stays current; at the
  // first reading, when nothing runs yet, the default profile runs instead.
  void readInfo();
  // Lists the profiles: the default profile's name first, then the names of the folder's
  // ".pr0" files made for this device, sorted. Files of other devices are not listed.
  void readDirectory();
  // writeInfo().
  void create();
  void writeSettings();
  // Rewrites the info file in place from the store's state (keys it does not know are
  // written back as read). False, with `error` set, when the file cannot be written (it
  // is not a regular file, or the disk refuses) or is damaged.
  bool writeInfo(std::string* error = nullptr);
  // Why the info file cannot be read ("PATH: not a property list (line 3: …)"); empty
  // while it reads.
  std::string infoDamage() const;
  // The user's explicit new start for a damaged info file: keeps it as
  // "NAME.damaged-DATE" (store/DamagedCopy.h) and writes the store's state (the
  // current profile, no start-up choice, no settings). Answers the copy's path; fails,
  // changing nothing, when the file is not damaged or the copy cannot be made.
  base::Result<std::filesystem::path> resetInfo();
  // Removes the info file.
  void deleteStore();

  // --- Profiles -----------------------------------------------------------------------------

  // profilePath() / name + ".pr0"; for the default profile's name, the bundle's default
  // profile (which is where that profile is).
  std::filesystem::path pathForProfile(const std::string& name) const override;
  std::vector<std::string> profileNames() const;
  bool profileExistsWithName(const std::string& name) const;
  // Loads the profile as a new, inactive profile (a missing file is first made from the
  // seed, as every profile load does).
  std::shared_ptr<engine::ZVProfile> profileWithName(const std::string& name);
  std::filesystem::path seedPath() const override { return seedPath_; }
  const std::filesystem::path& defaultProfilePath() const { return defaultProfilePath_; }
  const std::filesystem::path& defaultPath() const { return defaultProfilePath_; }
  const std::string& defaultProfileName() const { return defaultProfileName_; }
  // Empty (none) for the default profile's path; otherwise seedPath().
  std::filesystem::path seedPathForProfilePath(
      const std::filesystem::path& profilePath) const override;
  // The seed profile, loaded, not saved.
  std::shared_ptr<engine::ZVProfile> seedProfile();

  // Makes a profile from the seed and saves it as "Untitled<n>" with the smallest n from
  // 1 whose file does not exist (the name is claimed exclusively, so two processes never
  // take the same one). Nothing, with `error` set, when Untitled1 to Untitled10000 all
  // exist or the profile cannot be saved.
  std::shared_ptr<engine::ZVProfile> createUntitledProfile(std::string* error = nullptr);
  // Removes the profile's file. Refused (false, `error` set) for the default profile, a
  // name that is not a profile name, or a file that cannot be removed.
  bool deleteProfileWithName(const std::string& name, std::string* error = nullptr);
  // Moves the profile's file to the new name; the current profile stays current, and the
  // start-up profile stays the start-up profile, under its new name. Refused for the default
  // profile, for a new name that is taken (nothing is overwritten) and for names that are not
  // profile names.
  bool renameProfile(const std::string& oldName, const std::string& newName,
                     std::string* error = nullptr);
  // Whether `name` can name a profile file in the folder: not empty, no '/', not "." or
  // "..", no NUL, short enough for a file name.
  static bool isUsableProfileName(std::string_view name);

  // --- Current, start-up and no profile -------------------------------------------------

  std::shared_ptr<engine::ZVProfile> currentProfile() const override;
  std::string currentProfileName() const;
  std::optional<std::filesystem::path> currentProfilePath() const;
  // Makes the named profile current (loads and activates it, records it); an empty name
  // sets the no-profile state instead. Nothing happens when the profile is current
  // already and the no-profile state is off. A profile that does not load is refused:
  // false, with `error` holding the loader's message, logged (Critical), and the
  // profile running before stays current; so is a change while the info file is
  // damaged or cannot be written.
  bool setCurrentProfileByName(const std::string& name, std::string* error = nullptr);
  bool setCurrentProfilePath(const std::filesystem::path& path, std::string* error = nullptr);
  // Called by a profile when it becomes active.
  void setCurrentProfile(std::shared_ptr<engine::ZVProfile> profile) override;

  bool noProfile() const;
  // Records the state in the settings and writes the info file; the current profile is
  // dropped when the info file is read back. False, with `error` set, when the info
  // file is damaged or cannot be written.
  bool setNoProfile(bool noProfile, std::string* error = nullptr);

  // An empty name chooses no start-up profile (recorded as ""). False, with `error`
  // set, when the info file is damaged or cannot be written.
  bool setStartupProfileByName(const std::string& name, std::string* error = nullptr);
  bool setStartupProfilePath(const std::filesystem::path& path, std::string* error = nullptr);
  std::string startupProfileName() const;
  std::optional<std::filesystem::path> startupProfilePath() const;

  // --- Fields -------------------------------------------------------------------------------

  json::DictionaryPtr settings() const;
  bool exists() const;
  const std::filesystem::path& profilePath() const { return profilePath_; }
  const std::filesystem::path& profileInfoFile() const { return profileInfoFile_; }
  std::shared_ptr<device::DeviceController> device() const { return device_.lock(); }
  void setDelegate(std::weak_ptr<ZVProfileStoreDelegate> delegate);

  // The file watch of the folder and the info file.
  void VDKQueueReceivedNotification(platform::VDKQueue& queue, std::string_view notification,
                                    const std::string& path) override;

  // Tests: how the store waits before reading a damaged info file again.
  void setRetryPause(Pause pause) { pause_ = std::move(pause); }

 private:
  struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
  };
  static std::optional<FileIdentity> identityOf(const std::filesystem::path& path);

  explicit ZVProfileStore(const std::shared_ptr<device::DeviceController>& device);
  std::shared_ptr<ZVProfileStoreDelegate> delegate() const { return delegate_.lock(); }
  // A new profile loaded from `path` for the device, inactive; nothing, with `error`
  // holding the loader's message, when it does not load.
  std::shared_ptr<engine::ZVProfile> loadProfile(const std::filesystem::path& path,
                                                 std::string* error);
  // `profile` becomes the current profile, with its name and identity, and is activated.
  void makeCurrent(std::shared_ptr<engine::ZVProfile> profile, const std::filesystem::path& path);
  // Loads the profile at `path` and makes it current. When it does not load: logs why,
  // keeps what runs (at the `first` reading, runs the default profile instead) and
  // answers whether the current profile changed.
  bool switchToProfileAt(const std::filesystem::path& path, bool first);
  // "Work stays current" or "no profile runs", for messages.
  std::string describeRunning() const;
  // True, with `error` set and the refusal logged, while the info file is damaged.
  bool refuseWhileDamaged(std::string* error) const;
  void dropCurrentProfile();
  bool writeEmptyInfoFile();
  void watchInfoFile(platform::VDKQueue& queue);
  // When the loaded current profile's file has gone, looks for it under another name in
  // the folder (by file identity) and follows it there; answers whether it did.
  bool followRenamedCurrentProfile();

  mutable std::recursive_mutex mutex_;
  std::weak_ptr<device::DeviceController> device_;
  std::filesystem::path profilePath_;
  std::filesystem::path profileInfoFile_;
  std::filesystem::path seedPath_;
  std::string defaultProfileName_;
  std::filesystem::path defaultProfilePath_;
  std::vector<std::string> profileList_;
  json::DictionaryPtr settings_;
  json::DictionaryPtr otherInfo_;
  std::shared_ptr<engine::ZVProfile> currentProfile_;
  std::string currentProfileName_;
  std::optional<std::filesystem::path> currentProfilePath_;
  std::optional<FileIdentity> currentIdentity_;
  std::optional<std::filesystem::path> startupProfilePath_;
  bool exists_ = true;
  bool started_ = false;
  std::string infoDamage_;  // why the info file cannot be read; empty while it reads
  std::weak_ptr<ZVProfileStoreDelegate> delegate_;
  std::shared_ptr<platform::VDKQueue> directoryWatcher_;
  std::shared_ptr<platform::VDKQueue> infoWatcher_;
  Pause pause_ = sleepPause;
};

}  // namespace zv::store
