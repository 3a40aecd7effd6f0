// kinetra json check [--strict] FILE
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "Command.h"
#include "IO.h"
#include "JsonErrorText.h"
#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"

namespace kinetra {
namespace {

struct Options {
  std::string path;
  bool strict = false;
};

int runCheck(const Options& options) {
  const auto data = readInput(options.path);
  if (!data) return 1;

  zv::json::CJSONDeserializer reader;
  reader.setStrictEscapeCodes(options.strict);
  zv::json::Error error;
  const auto value = reader.deserialize(*data, &error);
  if (!value) {
    if (error.code != 0) {
      std::cerr << "error: " << describeJsonError(error, options.path) << "\n";
    } else {
      std::cerr << "error: no JSON value at the start of " << options.path << "\n";
    }
    return 1;
  }
  const auto text = zv::json::CJSONSerializer::serializer().serializeObject(*value);
  if (!text) {
    std::cerr << "error: " << text.failure().message << "\n";
    return 1;
  }
  std::cout << *text << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  CLI::App* check = command.add_subcommand("check", "read a file with the suite's JSON reader");
  check->footer(
      "Reads FILE ('-' for standard input) with the suite's JSON reader. On success prints\n"
      "the value as the suite's writer writes it (compact); on failure prints\n"
      "'error: <domain> <code>: <description>' and exits with status 1.\n");
  check->add_option("FILE", options->path, "the JSON text ('-' for standard input)")->required();
  check->add_flag("--strict", options->strict,
                  "fail on unknown escape codes instead of taking them literally");
  setAction(*check, [options] { return runCheck(*options); });
}

const CommandRegistration registration("json", "read JSON with the suite's reader", define);

}  // namespace
}  // namespace kinetra
