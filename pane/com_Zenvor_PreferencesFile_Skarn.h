// The settings window's own copy of the per-brand preferences file (the library's
// ZVPreferencesFile, which it does not link): the same file, the same property-list
// form, the same "ZVPreferencesUpdated" on the process's default notification centre,
// the same one-object-per-process rule, watched through com_Zenvor_VDKQueue_Skarn.
// See lib/store/ZVPreferencesFile.h for the behaviour in full.
//
// Use it on the main thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "com_Zenvor_VDKQueue_Skarn.h"
#include "json/Value.h"

namespace zv::pane {

inline constexpr std::string_view ZVPreferencesUpdatedNotification = "ZVPreferencesUpdated";

class com_Zenvor_PreferencesFile_Skarn : public com_Zenvor_VDKQueue_SkarnDelegate {
 public:
  // The object for `brand`, made on first request; nothing when the process holds an
  // object for another brand already.
  static std::shared_ptr<com_Zenvor_PreferencesFile_Skarn> preferenceFileForBrand(
      const std::string& brand);
  // The process's instance, created for the main bundle's "Brand" when there is none.
  static std::shared_ptr<com_Zenvor_PreferencesFile_Skarn> sharedZVPreferencesFile();
  static std::shared_ptr<com_Zenvor_PreferencesFile_Skarn> create();
  static std::shared_ptr<com_Zenvor_PreferencesFile_Skarn> createForBrand(const std::string& brand);

  ~com_Zenvor_PreferencesFile_Skarn() override;
  com_Zenvor_PreferencesFile_Skarn(const com_Zenvor_PreferencesFile_Skarn&) = delete;
  com_Zenvor_PreferencesFile_Skarn& operator=(const com_Zenvor_PreferencesFile_Skarn&) = delete;

  bool setBrand(const std::string& brand);
  // Null when the file could not be read as a dictionary; the file is then left alone.
  const json::DictionaryPtr& prefs() const { return prefs_; }
  const std::string& readError() const { return readError_; }
  const std::filesystem::path& filePath() const { return filePath_; }
  const std::string& brand() const { return brand_; }
  bool save(std::string* error = nullptr);
  void sendNotification();

  void com_Zenvor_VDKQueue_SkarnReceivedNotification(com_Zenvor_VDKQueue_Skarn& queue,
                                                     std::string_view notification,
                                                     const std::string& path) override;

  // Tests only: forgets the process's object and the brand table.
  static void forgetProcessInstanceForTesting();

 private:
  com_Zenvor_PreferencesFile_Skarn() = default;
  static std::shared_ptr<com_Zenvor_PreferencesFile_Skarn> makeProcessInstance();
  void reload();

  json::DictionaryPtr prefs_;
  std::shared_ptr<com_Zenvor_VDKQueue_Skarn> prefsWatcher_;
  std::filesystem::path filePath_;
  std::string brand_;
  std::string readError_;
  std::string original_;  // the bytes prefs_ was read from, for save()
};

}  // namespace zv::pane
