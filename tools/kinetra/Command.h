// Subcommands of the kinetra tool, parsed with CLI11.
//
// A subcommand is one file that registers itself; nothing else needs to change (add the
// file to CMakeLists.txt):
//
//   namespace kinetra {
//   namespace {
//   constexpr const char* kName = "frob";
//
//   void define(CLI::App& command) {
//     auto options = std::make_shared<Options>();     // outlives define(): the action reads it
//     command.description("Frobs FILE ('-' for standard input).");
//     command.add_flag("--hard", options->hard, "frob harder");
//     command.add_option("FILE", options->path, "the file")->required();
//     setAction(command, [options] { return runFrob(*options); });
//   }
//
//   const CommandRegistration registration(kName, "frob a file", define);
//   }  // namespace
//   }  // namespace kinetra
//
// The summary is the command's line in its parent's list and the first paragraph of its
// help; command.footer(TEXT) adds paragraphs after it. Give every option and argument a
// description and, for options taking a value, a type_name() ("FILE", "MS") for the
// usage line.
//
// A subcommand may have subcommands of its own (`kinetra json check`): add them in
// define() with command.add_subcommand() and give each its action. A command with
// subcommands and no action of its own requires one of them.
//
// Every command gets -h/--help, a usage line built from its options and arguments,
// errors of the form "kinetra NAME: MESSAGE" followed by the help on standard error,
// and exit status 0 on success, 1 on any failure (the action answers its status).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace kinetra {

// Runs once the whole command line is parsed; answers the exit status (0 or 1).
using Action = std::function<int()>;
// Adds the options, arguments, nested subcommands and actions of one subcommand to
// `command`, which is already named and carries its one-line summary.
using CommandDefinition = std::function<void(CLI::App& command)>;

// A static object of this type in a subcommand's file adds the subcommand to the tool.
// Commands are listed in `kinetra --help` in the order of their names.
struct CommandRegistration {
  CommandRegistration(std::string name, std::string summary, CommandDefinition define);
};

// Makes `action` what runs when `command` is the last subcommand on the command line.
// Call it from a CommandDefinition; `command` must live as long as the parse.
void setAction(CLI::App& command, Action action);
// Whether setAction() gave `command` an action.
bool hasAction(const CLI::App& command);

// Reports a wrong use of `command` found after parsing (a value out of range, a missing
// combination): "kinetra NAME: MESSAGE", a blank line and the command's help on standard
// error. Answers 1, the exit status.
int usageError(const CLI::App& command, std::string_view message);

// Parses the command line, runs the chosen command and answers the process exit status.
int runCommandLine(int argc, char** argv);

}  // namespace kinetra
