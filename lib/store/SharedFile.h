// Small files that several processes of the suite rewrite in place and re-read when
// they change: the profile store's info file and the application links
// ("mappings.xml"). Each process watches the file itself (not its name), so a writer
// keeps the file and rewrites its content; a reader must therefore expect to catch a
// writer between emptying the file and filling it.
//
//   writer: empties the file, then writes the whole content with one write()
//   reader: reads; when it finds the file empty or not a property list, pauses briefly
//           and reads once more, so it never acts on half a file
//
// Both follow symbolic links and refuse anything but a regular file (a FIFO, a device
// or a folder at the path is left alone, and no read or write waits on it).
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "json/Value.h"

namespace zv::store {

// How a reader waits before its second look; tests pass their own.
using Pause = std::function<void(std::chrono::milliseconds)>;
inline constexpr std::chrono::milliseconds kSharedFileRetryPause{20};
void sleepPause(std::chrono::milliseconds time);

// What stands at the path of a shared file is not a regular file, and is left alone.
inline constexpr const char* kSharedFileDomain = "SharedFile";
enum SharedFileCode { kNotARegularFile = 1 };

// Replaces the content of the file at `path` (created with mode 0644 less the umask
// when missing). A failure naming the path when it is not a regular file
// (kSharedFileDomain) or cannot be written (a system failure).
base::Result<void> writeSharedFile(const std::filesystem::path& path, std::string_view bytes);

struct SharedDictionary {
  enum class State {
    Dictionary,  // `dictionary` holds the file's content
    Empty,       // the file is empty (still after the second look)
    Missing,     // nothing at the path
    Damaged      // unreadable, not a regular file, or not a property-list dictionary
  };
  State state = State::Missing;
  json::DictionaryPtr dictionary;  // set for Dictionary only
  std::string error;               // why, for Damaged
};

// Reads the file as a property-list dictionary, looking a second time after `pause`
// when the first look finds it empty or damaged.
SharedDictionary readSharedDictionary(const std::filesystem::path& path,
                                      const Pause& pause = sleepPause);

}  // namespace zv::store
