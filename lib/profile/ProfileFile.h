// Profile files (".pr0"): node text stored as UTF-16 with a byte-order mark, written
// little-endian. Reading recognises a byte-order mark of either UTF-16 order or of
// UTF-8, and takes text without one as UTF-16 when its zero bytes say so, else as
// UTF-8.
//
// Saving never leaves a truncated or half-written file: the text goes to a temporary
// file in the same folder and is renamed over the target, and a save whose conversion
// fails, or whose text would not read back, writes nothing.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "json/Value.h"
#include "profile/NodeText.h"

namespace zv::profile {

// The largest profile file read. The demo mouse's full profile is 16 KiB and a profile of
// hundreds of long macros stays below 1 MiB; 16 MiB leaves room for any real profile and
// keeps a wrong path (a disk image, a log) from being read whole and converted.
inline constexpr std::size_t kProfileFileLimit = std::size_t{16} << 20;

// The file bytes of a profile: a little-endian byte-order mark and UTF-16LE.
std::string encodeProfileText(std::string_view utf8);
// File bytes → UTF-8 text; nothing, with `error` set, for bytes that are neither
// UTF-16 nor UTF-8 text, and for UTF-16 text whose last unit is cut short (an odd
// number of bytes).
std::optional<std::string> decodeProfileText(std::string_view bytes, std::string* error = nullptr);

// The text of a profile file; nothing, with `error` ("cannot read PATH: REASON") set, for
// what is not a regular file, a file over kProfileFileLimit, or bytes that are not text.
std::optional<std::string> readProfileText(const std::filesystem::path& path,
                                           std::string* error = nullptr);
// Writes the text atomically as a profile file; the file keeps its old content on failure.
bool writeProfileText(const std::filesystem::path& path, std::string_view utf8,
                      std::string* error = nullptr);

// A profile file read and converted to its JSON (tevnodes2json).
std::optional<json::Value> loadProfileJSON(const std::filesystem::path& path,
                                           const json::Value& prototype,
                                           std::string* error = nullptr);

// Whether `json` is a profile's JSON: a dictionary with a "profile" member, as the
// top-level node of every profile file reads. When not, `why` says what it is instead.
bool isProfileJSON(const json::Value& json, std::string* why = nullptr);

// The JSON converted to node text (json2tevnodes), checked to read back as a profile
// (tevnodes2json), then written atomically (see platform/AtomicFile.h). JSON that is not
// a profile is refused. On any failure the file is untouched and `error` says why.
bool saveProfileJSON(const std::filesystem::path& path, const json::Value& json,
                     const json::Value& prototype, std::string* error = nullptr);

}  // namespace zv::profile
