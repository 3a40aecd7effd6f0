// Profile files (".pr0"): node text stored as UTF-16 with a byte-order mark, written
// little-endian. Reading recognises a byte-order mark of either UTF-16 order or of
// UTF-8, and takes text without one as UTF-16 when its zero bytes say so, else as
// UTF-8.
//
// Saving never leaves a truncated or half-written file: the text goes to a temporary
// file in the same folder and is renamed over the target, and a save whose conversion
// fails, or whose text would not read back, writes nothing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "json/Value.h"
#include "profile/NodeText.h"

namespace zv::profile {

// The file bytes of a profile: a little-endian byte-order mark and UTF-16LE.
std::string encodeProfileText(std::string_view utf8);
// File bytes → UTF-8 text; nothing, with `error` set, for bytes that are neither
// UTF-16 nor UTF-8 text.
std::optional<std::string> decodeProfileText(std::string_view bytes, std::string* error = nullptr);

std::optional<std::string> readProfileText(const std::filesystem::path& path,
                                           std::string* error = nullptr);
// Writes the text atomically as a profile file; the file keeps its old content on failure.
bool writeProfileText(const std::filesystem::path& path, std::string_view utf8,
                      std::string* error = nullptr);

// A profile file read and converted to its JSON (tevnodes2json).
std::optional<json::Value> loadProfileJSON(const std::filesystem::path& path,
                                           const json::Value& prototype,
                                           std::string* error = nullptr);

// The JSON converted to node text (json2tevnodes), checked to read back
// (tevnodes2json), then written atomically. On any failure the file is untouched and
// `error` says why.
bool saveProfileJSON(const std::filesystem::path& path, const json::Value& json,
                     const json::Value& prototype, std::string* error = nullptr);

}  // namespace zv::profile
