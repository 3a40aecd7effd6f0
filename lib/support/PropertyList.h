// Property lists (XML or binary) read into and written from the JSON value model.
//
// Kinds map as: dictionary → dictionary (keys in file order), array → array,
// string → string, integer and real → number, boolean → boolean, data → raw bytes
// (Data), date → its ISO 8601 text. Writing produces an XML property list: numbers with
// an integral value become <integer>, other numbers <real>.
//
// A number holds integers exactly up to 2^53, and the model has no date: written from
// the model alone, a <date> would come back as a <string> and 9007199254740993 as …992.
// So a writer that read the file first passes the bytes it read as `original`, and every
// value it did not change (equal to what was read at the same place) is written exactly
// as the file had it: dates, reals with whole values, every 64-bit integer, signed or
// unsigned. Only what the caller changed is written from the model.
//
// An integer beyond 64 bits (99999999999999999999999) cannot be read faithfully by the
// property-list library, which would clamp it; such a file is refused rather than read
// as another number and later saved over.
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
// The file read (see platform/ReadFile.h) and parsed; `error` reads "cannot read PATH:
// REASON". With `bytes`, the file's bytes are kept there for a later write (`original`).
std::optional<json::Value> readPropertyListFile(const std::filesystem::path& path,
                                                std::string* error = nullptr,
                                                std::string* bytes = nullptr);
// The root must be a dictionary or an array; other values write as an empty dictionary.
// `original`: the bytes the root was read from, whose unchanged values are kept exactly
// (see above); damaged or empty bytes keep nothing.
std::string writePropertyListXML(const json::Value& root, std::string_view original = {});
// Atomically replaces the file (see platform/AtomicFile.h). Refuses, writing nothing, a
// tree that a property list cannot hold (a NUL character in a string or a key) and any
// text its own reader would not read back.
bool writePropertyListFile(const std::filesystem::path& path, const json::Value& root,
                           std::string* error = nullptr, unsigned mode = 0644,
                           std::string_view original = {});

}  // namespace zv::support
