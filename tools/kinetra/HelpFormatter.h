// The help of every kinetra command, in one layout:
//
//   usage: kinetra json check [--strict] FILE
//
//   read JSON with the suite's reader            (the command's summary)
//
//   Reads FILE ('-' for standard input) …        (its footer text, when it has one)
//
//   options:
//     --strict   fail on unknown escape codes …
//
//   commands:                                    (when it has subcommands)
//     check      read JSON with the suite's reader
//
// The usage lines are built from the options and arguments: one line per runnable
// command (a command with subcommands lists each of theirs), each ancestor's options
// after its name, optional ones in brackets.
#pragma once

#include <CLI/CLI.hpp>

namespace kinetra {

class HelpFormatter : public CLI::FormatterBase {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;
};

// The usage lines of `app` without the "usage: " label, one per line.
std::string usageLines(const CLI::App& app);

}  // namespace kinetra
