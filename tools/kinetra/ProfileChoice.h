// The shape shared by the subcommands that choose one profile of a device, or none
// (`kinetra use`, `kinetra startup`): NAME|--none plus the device options.
#pragma once

#include <functional>
#include <string>

#include "store/ZVProfileStore.h"

namespace CLI {
class App;
}

namespace kinetra {

struct ProfileChoice {
  const char* command;   // the subcommand's name, for messages
  const char* footer;    // what choosing does, for --help
  const char* noneHelp;  // what --none means, for --help
  // Apply the choice (the profile exists) and answer the line to print.
  std::function<std::string(zv::store::ZVProfileStore&, const std::string& name)> choose;
  std::function<std::string(zv::store::ZVProfileStore&)> chooseNone;
};

// Defines `command` as a profile choice: exactly one of NAME and --none, a missing profile
// refused with a pointer to `kinetra profiles`.
void defineProfileChoice(CLI::App& command, ProfileChoice choice);

}  // namespace kinetra
