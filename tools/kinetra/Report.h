// How subcommands report failures: one line on standard error naming the tool and the
// subcommand, so that a message read in a script's log says where it came from.
#pragma once

#include <string_view>

namespace kinetra {

// Prints "kinetra COMMAND: MESSAGE" on standard error; answers 1, the exit status of a
// failed command.
int fail(std::string_view command, std::string_view message);

// Prints "kinetra COMMAND: warning: MESSAGE" on standard error.
void warn(std::string_view command, std::string_view message);

}  // namespace kinetra
