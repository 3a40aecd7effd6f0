// kinetra json check [--strict] FILE
#include <iostream>

#include "Command.h"
#include "IO.h"
#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra json check [--strict] FILE\n\n"
    "Reads FILE ('-' for standard input) with the suite's JSON reader. On success prints\n"
    "the value as the suite's writer writes it (compact); on failure prints\n"
    "'error: <domain> <code>: <description>' and exits with status 1.\n\n"
    "  --strict   fail on unknown escape codes instead of taking them literally\n";

int runJson(const Arguments& args) {
  const Command& self = *findCommand("json");
  if (args.empty() || args[0] != "check") return usageError(self, "expected 'check'");
  bool strict = false;
  std::string path;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--strict") {
      strict = true;
    } else if (path.empty()) {
      path = args[i];
    } else {
      return usageError(self, "more than one FILE given");
    }
  }
  if (path.empty()) return usageError(self, "missing FILE");
  auto data = readInput(path);
  if (!data) return 1;

  zv::json::CJSONDeserializer reader;
  reader.setStrictEscapeCodes(strict);
  zv::json::Error error;
  auto value = reader.deserialize(*data, &error);
  if (!value) {
    if (error.code != 0) {
      std::cerr << "error: " << error.message() << "\n";
    } else {
      std::cerr << "error: no JSON value at the start of " << path << "\n";
    }
    return 1;
  }
  std::cout << zv::json::CJSONSerializer::serializer().serializeObject(*value) << "\n";
  return 0;
}

const CommandRegistration registration("json", "read JSON with the suite's reader", kUsage,
                                       runJson);

}  // namespace
}  // namespace kinetra
