// The per-brand preferences file, shared by the tray agent and the settings window:
// "<home>/.config/com.zenvor.Kinetra.<brand>.plist", an XML property list holding one
// dictionary (for example "HideStatusMenu").
//
// The object loads the file, saves it atomically and watches it. Every time its
// contents are (re)loaded it posts "ZVPreferencesUpdated" on the process's default
// notification centre, with the object as sender and the dictionary as user
// information: once when the object is created, and again whenever another process
// saves the file (a save replaces the file, which the watch reports as its deletion).
// A write into the file in place is not noticed.
//
// One object per process: the first one created is the process's instance, and every
// later attempt to create another (for the same or another brand) answers nothing.
//
// Use it on the main thread: reloads happen there, from the main run loop. The object
// re-reads its own saves too (they replace the file like anyone else's), so an
// observer must not save unconditionally on every "ZVPreferencesUpdated".
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/Result.h"
#include "json/Value.h"
#include "platform/VDKQueue.h"

namespace zv::store {

inline constexpr std::string_view ZVPreferencesUpdatedNotification = "ZVPreferencesUpdated";

class ZVPreferencesFile : public platform::VDKQueueDelegate {
 public:
  // The object for `brand`: the one made for it before, else a new one
  // (initForBrand:). Nothing when the process already holds an object for another
  // brand, and then nothing is recorded for `brand`.
  static std::shared_ptr<ZVPreferencesFile> preferenceFileForBrand(const std::string& brand);
  // The process's instance, created for the main bundle's "Brand" when there is none.
  static std::shared_ptr<ZVPreferencesFile> sharedZVPreferencesFile();

  // Where the brand's file is, or nothing when the brand cannot name a file.
  static std::filesystem::path pathForBrand(const std::string& brand);

  // init: a new object bound to the main bundle's "Brand" when it has one (unbound,
  // with no file, otherwise). Nothing when the process already has its object.
  static std::shared_ptr<ZVPreferencesFile> create();
  // initForBrand:. Nothing when the process already has its object or the brand cannot
  // name a file (empty, "." or "..", or holding '/' or a NUL).
  static std::shared_ptr<ZVPreferencesFile> createForBrand(const std::string& brand);

  ~ZVPreferencesFile() override;
  ZVPreferencesFile(const ZVPreferencesFile&) = delete;
  ZVPreferencesFile& operator=(const ZVPreferencesFile&) = delete;

  // Binds the object to the brand's file: creates the file holding an empty dictionary
  // when there is none (and its folder), else reads it; watches it; posts
  // "ZVPreferencesUpdated". A damaged file is left as it is and reads as no dictionary.
  // A file that cannot be created is logged at Critical (with the reason); the empty
  // dictionary stays in memory for a later save. Answers false when the brand cannot
  // name a file.
  bool setBrand(const std::string& brand);

  // The file's dictionary. Change it in place, then save(). Null when the file could
  // not be read as a dictionary (damaged, or not bound to a brand).
  const json::DictionaryPtr& prefs() const { return prefs_; }
  // Why the last read gave no dictionary ("cannot read PATH: REASON"); empty when it gave
  // one.
  const std::string& readError() const { return readError_; }
  const std::filesystem::path& filePath() const { return filePath_; }
  const std::string& brand() const { return brand_; }

  // Replaces the file with prefs() atomically (through a symbolic link, to the file it
  // names). Entries left as they were read keep their exact kind and value in the file,
  // dates and 64-bit integers included. Answers false, with `error` set and the file
  // untouched, when there is no dictionary to save or the write fails.
  bool save(std::string* error = nullptr);
  // The user's explicit new start for a damaged file (prefs() is null): keeps it as
  // "NAME.damaged-DATE" (store/DamagedCopy.h), saves an empty dictionary and notifies.
  // Answers the copy's path; fails, changing nothing, when the file reads or the copy
  // cannot be made.
  base::Result<std::filesystem::path> reset();
  // Posts "ZVPreferencesUpdated".
  void sendNotification();

  // File-change handling: a deletion of the watched file with a file at the same path
  // again means another process saved; the object reloads and notifies.
  void VDKQueueReceivedNotification(platform::VDKQueue& queue, std::string_view notification,
                                    const std::string& path) override;

  // Tests only: forgets the process's object and the brand table, so that a test can
  // begin as a fresh process would.
  static void forgetProcessInstanceForTesting();

 private:
  ZVPreferencesFile() = default;
  static std::shared_ptr<ZVPreferencesFile> makeProcessInstance();
  void reload();

  json::DictionaryPtr prefs_;
  std::shared_ptr<platform::VDKQueue> prefsWatcher_;
  std::filesystem::path filePath_;
  std::string brand_;
  std::string readError_;
  std::string original_;  // the bytes prefs_ was read from, for save()
};

}  // namespace zv::store
