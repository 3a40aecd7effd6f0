// The profile prototype: the JSON file "tevnodes.prototype" that describes every object
// a profile may hold (data/tevnodes.prototype, explained in data/README.md). It is a
// resource of the running application; the node-text conversion and the object model
// both take it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "json/Error.h"
#include "json/Value.h"

namespace zv::profile {

inline constexpr const char* kPrototypeResourceName = "tevnodes.prototype";
// The largest prototype file read: the suite's own is 3 KiB of JSON; 1 MiB is room for
// any class table while refusing a wrong path at once.
inline constexpr std::size_t kPrototypeFileLimit = std::size_t{1} << 20;

// Every newline character (LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR)
// replaced by one blank; UTF-8 in and out. Readers of node text and of the prototype
// see their text this way.
std::string replaceNewlines(std::string_view text);

// The prototype text (newlines taken as blanks) parsed into fresh mutable dictionaries;
// null, with `error` set when the reader reported one, when it is not a JSON object.
json::DictionaryPtr parsePrototype(std::string_view text, json::Error* error = nullptr);

// The prototype file read and parsed; null with a message naming the file otherwise.
json::DictionaryPtr readPrototypeFile(const std::filesystem::path& path,
                                      std::string* error = nullptr);

// The running application's "tevnodes.prototype" resource, when it has one.
std::optional<std::filesystem::path> bundledPrototypePath();

}  // namespace zv::profile
