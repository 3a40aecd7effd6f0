// Property lists (XML or binary) read into and written from the JSON value model.
//
// Kinds map as: dictionary → dictionary (keys in file order), array → array,
// string → string, integer and real → number, boolean → boolean, data → raw bytes
// (Data), date → its ISO 8601 text. Writing produces an XML property list: numbers with
// an integral value become <integer>, other numbers <real>.
//
// Reading never fails hard: damaged input answers nothing and says why in `error`.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "json/Value.h"

namespace zv::support {

// The largest property-list file read. The suite's own (preferences, the store's
// information file, "mappings.xml", favourites, a bundle's Info.plist) hold a few KiB;
// the parser builds a tree several times the size of the text, so 8 MiB bounds the
// memory a wrong or hostile file can take while leaving room for years of entries.
inline constexpr std::size_t kPropertyListFileLimit = std::size_t{8} << 20;

std::optional<json::Value> readPropertyList(std::string_view bytes, std::string* error = nullptr);
std::optional<json::Value> readPropertyListFile(const std::filesystem::path& path,
                                                std::string* error = nullptr);
// The root must be a dictionary or an array; other values write as an empty dictionary.
std::string writePropertyListXML(const json::Value& root);
// Atomically replaces the file (see platform/AtomicFile.h).
bool writePropertyListFile(const std::filesystem::path& path, const json::Value& root,
                           std::string* error = nullptr, unsigned mode = 0644);

}  // namespace zv::support
