// Which devices a profile file serves, without loading it: the "controller" value (a
// device's "Balias") of each entry of the file's "controllers", in file order.
//
// The profile store asks for every file of its folder whenever it scans it, so answers
// are kept per path together with the file's stamp (modification time, size, inode); a
// file whose stamp is unchanged is not read again. A file that cannot be converted is
// remembered as such until it changes.
//
// Main thread only: the store's scans run there, and that is the only caller the
// process-wide cache is meant for. (The table itself is locked, so a stray call from
// another thread is no data race, but it may wait for the main thread's conversion.)
#pragma once

#include <sys/types.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/Value.h"

namespace zv::profile {

class ProfileControllersCache {
 public:
  using Controllers = std::vector<std::string>;
  // How the cache waits between reading a file and converting it (see kSettleTime).
  using Pause = std::function<void(std::chrono::milliseconds)>;

  // Profile folders are scanned when they change, often while another program is still
  // writing a file there (a copy, a sync tool, an editor that writes in place). The
  // pause after reading gives such a writer time to finish; the file's stamp is compared
  // before and after it, and a file that changed meanwhile is read again, so a
  // half-written file is not what gets converted and remembered.
  static constexpr std::chrono::milliseconds kSettleTime{50};
  // A file whose last change is older than this has no writer at work, so the pause is
  // skipped for it: the first scan of a folder of a thousand profiles would otherwise
  // wait 50 seconds.
  static constexpr std::chrono::seconds kQuietTime{10};

  // `prototype`: the parsed profile prototype (Prototype.h); without one, the running
  // application's bundled prototype is read at the first conversion. `pause`: sleeps by
  // default; tests pass their own.
  explicit ProfileControllersCache(json::DictionaryPtr prototype = nullptr, Pause pause = {});

  // The controller aliases of the profile at `path`; none for a path not ending in
  // ".pr0", a missing or unreadable file, a file that does not convert, or when no
  // prototype is available. A file that converts but names no controller answers an
  // empty list.
  std::optional<Controllers> controllersInFile(const std::filesystem::path& path);

  // Whether the profile at `path` names `balias` among its controllers; false also when
  // the file cannot be read or converted. (A profile is compatible with a device when
  // this holds for the device's "Balias".)
  bool isProfileAtPath(const std::filesystem::path& path, std::string_view balias);

  void setPrototype(json::DictionaryPtr prototype);
  // Forgets every answer.
  void clear();
  std::size_t size() const;

  // The process-wide cache, with the bundled prototype and the real pause.
  static ProfileControllersCache& shared();

 private:
  struct Stamp {
    timespec modified{};
    off_t size = 0;
    ino_t inode = 0;
    dev_t device = 0;
    bool operator==(const Stamp& other) const;
  };
  struct Entry {
    Stamp stamp;
    std::optional<Controllers> controllers;
  };
  enum class Look { Regular, Missing, Unreadable };

  static Look look(const std::filesystem::path& path, Stamp& stamp);
  static bool changedRecently(const Stamp& stamp);
  json::DictionaryPtr prototype();
  void forget(const std::filesystem::path& path);

  mutable std::mutex mutex_;
  json::DictionaryPtr prototype_;
  bool prototypeTried_ = false;
  Pause pause_;
  std::map<std::filesystem::path, Entry> entries_;
};

// The process-wide cache's answers (ProfileControllersCache::shared()).
std::optional<ProfileControllersCache::Controllers> controllersInFile(
    const std::filesystem::path& path);
bool isProfileAtPath(const std::filesystem::path& path, std::string_view balias);

}  // namespace zv::profile
