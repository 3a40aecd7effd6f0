// Subcommands of the kinetra tool. A subcommand is a file that defines a function
// taking its arguments (after the subcommand's name) and registers it with a
// static CommandRegistration; main() dispatches by name.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kinetra {

using Arguments = std::vector<std::string>;
// Answers the process exit status: 0 on success, 1 on failure.
using CommandFunction = std::function<int(const Arguments&)>;

struct Command {
  std::string name;
  std::string summary;  // one line for `kinetra --help`
  std::string usage;    // the subcommand's full help text
  CommandFunction run;
};

const std::vector<Command>& commands();

struct CommandRegistration {
  CommandRegistration(std::string name, std::string summary, std::string usage,
                      CommandFunction run);
};

// True when the arguments ask for help (-h or --help anywhere).
bool wantsHelp(const Arguments& args);
// Prints "kinetra NAME: MESSAGE" and the usage to stderr; answers 1.
int usageError(const Command& command, std::string_view message);
const Command* findCommand(std::string_view name);

}  // namespace kinetra
