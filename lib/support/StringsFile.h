// Tables of localized texts: "<lang>.lproj/<table>.strings" files in an application's
// resources. A file holds entries
//
//   /* A comment */  // or a comment to the end of the line
//   "ZenvorDefault" = "Default";
//   Clear = "Clear";              a key or value of letters, digits and _ . $ : / - may
//   "Same";                       go without quotes; a key alone stands for itself
//
// Quoted texts take the escapes \" \\ \n \t \r \a \b \f \v, \uXXXX and \UXXXX (UTF-16 code
// units; a surrogate pair makes one character), and octal \NNN; any other escaped
// character stands for itself. A later entry for a key replaces an earlier one.
//
// The file is UTF-8 (a byte-order mark is allowed), or UTF-16 with a byte-order mark of
// either order. Reading never crashes on damaged input: it answers nothing and says where
// the text broke.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zv::support {

struct StringsFileError {
  std::string message;
  std::size_t line = 0;    // 1-based; 0 when the error has no position (encoding, file)
  std::size_t column = 0;  // 1-based, in characters
  // "line L, column C: MESSAGE", or MESSAGE alone.
  std::string describe() const;
};

using StringsTable = std::map<std::string, std::string, std::less<>>;

std::optional<StringsTable> readStringsTable(std::string_view bytes,
                                             StringsFileError* error = nullptr);
std::optional<StringsTable> readStringsFile(const std::filesystem::path& path,
                                            StringsFileError* error = nullptr);

}  // namespace zv::support
