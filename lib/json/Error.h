// A failure reported by the JSON reader: a domain, a negative code and a text a user
// can read. Codes and texts are part of the format the suite reports.
#pragma once

#include <string>

namespace zv::json {

inline constexpr const char* kCJSONScannerErrorDomain = "CJSONScannerErrorDomain";
inline constexpr const char* kCJSONDeserializerErrorDomain = "CJSONDeserializerErrorDomain";

struct Error {
  std::string domain;
  int code = 0;
  std::string description;  // may be empty (the deserializer's empty-data failure)

  // "<domain> <code>: <description>", the form the command-line tool prints.
  std::string message() const;
};

}  // namespace zv::json
