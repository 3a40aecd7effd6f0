// Profiles linked to applications: while a linked application has the focus its profile
// is current, and when the user moves to an application without a link the profile that
// was current before comes back.
//
// The links of a device are kept in "mappings.xml" in its profile folder, an XML
// property list holding one dictionary from application key to profile name. The key
// of an application is its executable's path as file-URL text, normalised
// (platform::applicationKey: "file:/usr/bin/firefox"; a space is %20). The agent and the
// editor each run a switcher on the same file; each watches it and re-reads it when
// another process rewrites it (in place, like the profile store's info file, and read
// twice when caught half-written). A file replaced by another program (an atomic save)
// is watched again, so later changes are still seen.
//
// The switcher follows a FrontmostApplication provider: each focus change runs check(),
// and check() switches the profile through the device's profile store. A switch
// deactivates the profile switched away from, so commands it was running (a button held
// while the focus moved) end and release every key they pressed.
//
// Threads: the main thread only (the provider's reports and the file watch arrive there).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "json/Value.h"
#include "platform/FrontmostApplication.h"
#include "platform/VDKQueue.h"
#include "store/SharedFile.h"

namespace zv::device {
class DeviceController;
}

namespace zv::store {

class ZVProfileStore;
class ZVProfileSwitcher;

class ZVProfileSwitcherDelegate {
 public:
  virtual ~ZVProfileSwitcherDelegate() = default;
  // The links were (re)read.
  virtual void profileSwitcherConfigurationUpdated(ZVProfileSwitcher& /*switcher*/) {}
};

class ZVProfileSwitcher : public platform::VDKQueueDelegate {
 public:
  // The process's provider of the focused application, opened on the main run loop at
  // the first call (openFrontmostApplication). Null when the desktop offers none; the
  // reason then goes to the system log once and stays in frontmostApplicationUnavailable().
  static std::shared_ptr<platform::FrontmostApplication> sharedFrontmostApplication();
  static std::string frontmostApplicationUnavailable();
  // At the end of the process: lets go of the shared provider, so that one which put
  // something into the desktop (KWin's script) takes it out while the process can still
  // wait for the desktop. Later calls of sharedFrontmostApplication() answer null.
  static void closeSharedFrontmostApplication();

  // initWithDevice: a switcher for the device's profile store (nothing when the device
  // has no ZVProfileStore), following `frontmost` (none: links stay inactive). Reads or
  // creates "mappings.xml" and watches it.
  static std::shared_ptr<ZVProfileSwitcher> create(
      const std::shared_ptr<device::DeviceController>& device,
      std::shared_ptr<platform::FrontmostApplication> frontmost);
  ~ZVProfileSwitcher() override;
  ZVProfileSwitcher(const ZVProfileSwitcher&) = delete;
  ZVProfileSwitcher& operator=(const ZVProfileSwitcher&) = delete;

  // Reads the links; a missing file is created empty. A file that stays damaged after a
  // second look keeps the links read before (and is left as it is until the next link
  // edit rewrites it).
  void readConfig();
  // Applies the link of the focused application: called on every focus change, and by
  // the agent before it routes a button event.
  void check();
  void foremostAppActivated() { check(); }

  // The key of `application`: an executable's path ("/usr/bin/x") or URL text
  // ("file:///usr/bin/x/"), normalised.
  static std::string keyForApplication(const std::string& application);
  // Links the application to the profile and rewrites the file. False, with `error`
  // set, when the file cannot be written.
  bool setProfile(const std::string& profileName, const std::string& application,
                  std::string* error = nullptr);
  // Removes the application's link (`key` as keyForApplication() gives it) and rewrites
  // the file. `profileName` is not used.
  bool unsetProfile(const std::string& profileName, const std::string& key,
                    std::string* error = nullptr);
  // Drops every link to the profile / moves them to the new name, in memory; the file
  // follows at the next setProfile() or unsetProfile(), or writeConfig().
  void removeProfile(const std::string& profileName);
  void renameProfile(const std::string& oldName, const std::string& newName);
  // Rewrites the file with the links in memory.
  bool writeConfig(std::string* error = nullptr);

  // The keys linked to the profile, in file order.
  std::vector<std::string> mappingsForProfile(const std::string& profileName) const;
  // The profile linked to the application (a key or a path, as keyForApplication() takes).
  std::optional<std::string> profileForKey(const std::string& key) const;
  // Every link, key → profile name, as read (values that are not names are kept but
  // never followed).
  const json::DictionaryPtr& appMappings() const { return appMappings_; }

  void start() {}
  void stop() {}

  const std::filesystem::path& configPath() const { return configPath_; }
  const std::optional<std::string>& originalProfile() const { return originalProfile_; }
  const std::optional<std::string>& lastAutoProfile() const { return lastAutoProfile_; }
  const std::optional<std::string>& currentApplicationURL() const { return currentApplicationURL_; }
  bool expectingChange() const { return expectingChange_; }
  void setDelegate(std::weak_ptr<ZVProfileSwitcherDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  void VDKQueueReceivedNotification(platform::VDKQueue& queue, std::string_view notification,
                                    const std::string& path) override;

  // Tests: how the switcher waits before reading a damaged file again.
  void setRetryPause(Pause pause) { pause_ = std::move(pause); }

 private:
  ZVProfileSwitcher(std::shared_ptr<ZVProfileStore> store,
                    std::shared_ptr<platform::FrontmostApplication> frontmost);
  void watchConfig();

  std::shared_ptr<ZVProfileStore> store_;
  std::shared_ptr<platform::FrontmostApplication> frontmost_;
  platform::FrontmostApplication::ObserverId observer_ = 0;
  std::filesystem::path configPath_;
  std::shared_ptr<platform::VDKQueue> configWatcher_;
  json::DictionaryPtr appMappings_;
  std::optional<std::string> originalProfile_;
  std::optional<std::string> lastAutoProfile_;
  std::optional<std::string> currentApplicationURL_;
  bool expectingChange_ = false;
  std::weak_ptr<ZVProfileSwitcherDelegate> delegate_;
  Pause pause_ = sleepPause;
};

}  // namespace zv::store
