// kinetra base64 encode|decode [--newlines] FILE
#include <iostream>

#include "Command.h"
#include "IO.h"
#include "json/Base64.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra base64 encode|decode [--newlines] FILE\n\n"
    "Encodes FILE ('-' for standard input) as Base64, or decodes Base64 text, and writes\n"
    "the result to standard output.\n\n"
    "  --newlines   lines of 64 characters (encode) / accept line breaks (decode)\n";

int runBase64(const Arguments& args) {
  const Command& self = *findCommand("base64");
  if (args.empty() || (args[0] != "encode" && args[0] != "decode")) {
    return usageError(self, "expected 'encode' or 'decode'");
  }
  bool newlines = false;
  std::string path;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--newlines") {
      newlines = true;
    } else if (path.empty()) {
      path = args[i];
    } else {
      return usageError(self, "more than one FILE given");
    }
  }
  if (path.empty()) return usageError(self, "missing FILE");
  auto data = readInput(path);
  if (!data) return 1;

  if (args[0] == "encode") {
    std::cout << zv::json::encodeBase64WithNewlines(*data, newlines);
    if (!newlines) std::cout << "\n";
    return 0;
  }
  // A single trailing line break (as editors and `echo` leave) is not part of the text.
  std::string_view text = *data;
  if (!newlines && !text.empty() && text.back() == '\n') text.remove_suffix(1);
  auto decoded = zv::json::decodeBase64WithNewlines(text, newlines);
  if (!decoded) {
    std::cerr << "kinetra base64: " << path << " is not Base64 text"
              << (newlines ? "" : " (use --newlines for text broken into lines)") << "\n";
    return 1;
  }
  std::cout << *decoded;
  return 0;
}

const CommandRegistration registration("base64", "encode or decode Base64", kUsage, runBase64);

}  // namespace
}  // namespace kinetra
