// kinetra base64 encode|decode [--newlines] FILE
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "Command.h"
#include "IO.h"
#include "Report.h"
#include "json/Base64.h"

namespace kinetra {
namespace {

constexpr const char* kName = "base64";

struct Options {
  std::string path;
  bool newlines = false;
};

int runEncode(const Options& options) {
  const auto data = readInput(options.path);
  if (!data) return 1;
  std::cout << zv::json::encodeBase64WithNewlines(*data, options.newlines);
  if (!options.newlines) std::cout << "\n";
  return 0;
}

int runDecode(const Options& options) {
  const auto data = readInput(options.path);
  if (!data) return 1;
  // A single trailing line break (as editors and `echo` leave) is not part of the text.
  std::string_view text = *data;
  if (!options.newlines && !text.empty() && text.back() == '\n') text.remove_suffix(1);
  const auto decoded = zv::json::decodeBase64WithNewlines(text, options.newlines);
  if (!decoded) {
    return fail(kName,
                options.path + " is not Base64 text" +
                    (options.newlines ? "" : " (use --newlines for text broken into lines)"));
  }
  std::cout << *decoded;
  return 0;
}

void define(CLI::App& command) {
  command.footer(
      "Encodes FILE ('-' for standard input) as Base64, or decodes Base64 text, and writes\n"
      "the result to standard output.\n");
  for (const bool encode : {true, false}) {
    auto options = std::make_shared<Options>();
    CLI::App* sub = command.add_subcommand(
        encode ? "encode" : "decode", encode ? "write FILE as Base64 text" : "decode Base64 text");
    sub->add_option("FILE", options->path, "the input ('-' for standard input)")->required();
    sub->add_flag(
        "--newlines", options->newlines,
        encode ? "break the text into lines of 64 characters" : "accept text broken into lines");
    setAction(*sub,
              [options, encode] { return encode ? runEncode(*options) : runDecode(*options); });
  }
}

const CommandRegistration registration(kName, "encode or decode Base64", define);

}  // namespace
}  // namespace kinetra
