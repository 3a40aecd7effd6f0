// The library of ready-made commands the editor offers: the device bundles ship them as
// XML files, and commandXML() hands the editor's page all of them as one text. The
// store also makes sure the "Common" folder exists, where the editor keeps the user's
// favourite commands ("Favourites.xml"). The XML is the page's business; this object
// only moves text.
//
//   shipped commands   every "*.xml" below the bundle directory (at any depth), except a
//                      "Favourites.xml" directly in it
//   common folder      <application support folder>/Common
//   favourites         <common folder>/Favourites.xml
//
// One object per process: the first one created is the process's, and any later attempt
// to create another answers nothing.
//
// Threads: commandXML() may be called from any thread; create it on the main thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/VDKQueue.h"

namespace zv::store {

class ZVCommandStore : public platform::VDKQueueDelegate {
 public:
  // The process's object, created on first use for bundleDirectory().
  static std::shared_ptr<ZVCommandStore> sharedCommandStore();
  static std::shared_ptr<ZVCommandStore> sharedZVCommandStore() { return sharedCommandStore(); }
  // The process's object for `bundleDirectory`; nothing when the process has one already.
  static std::shared_ptr<ZVCommandStore> create(std::filesystem::path bundleDirectory);

  // Where the device bundles' command files are: the running application's built-in
  // plug-ins folder when it has one, else the installed device bundles
  // (platform::devicesFolder()).
  static std::filesystem::path bundleDirectory();

  ~ZVCommandStore() override;
  ZVCommandStore(const ZVCommandStore&) = delete;
  ZVCommandStore& operator=(const ZVCommandStore&) = delete;

  // The shipped command files' text, concatenated without separator in the order the
  // folder lists them; empty when there are none. Files that are not regular files or
  // not UTF-8 text are left out.
  std::string commandXML() const;

  const std::filesystem::path& commonFolder() const { return commonFolder_; }
  const std::filesystem::path& favouritesPath() const { return favouritesPath_; }
  const std::filesystem::path& directory() const { return bundleDirectory_; }

  // Changes of the common folder are watched and have no effect.
  void VDKQueueReceivedNotification(platform::VDKQueue&, std::string_view,
                                    const std::string&) override {}

  // Tests only: forgets the process's object, as a fresh process would start.
  static void forgetProcessInstanceForTesting();

 private:
  explicit ZVCommandStore(std::filesystem::path bundleDirectory);

  std::filesystem::path bundleDirectory_;
  std::filesystem::path commonFolder_;
  std::filesystem::path favouritesPath_;
  std::shared_ptr<platform::VDKQueue> commandDirectoryWatcher_;
  std::shared_ptr<platform::VDKQueue> favouritesWatcher_;
};

}  // namespace zv::store
