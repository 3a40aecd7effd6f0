// The shape shared by the subcommands that choose one profile of a device, or none
// (`kinetra use`, `kinetra startup`): NAME|--none plus the device options.
#pragma once

#include <functional>
#include <optional>
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
  // Apply the choice (the profile exists) and answer the line to print; nothing, with
  // `error` set, when the store refused it.
  std::function<std::optional<std::string>(zv::store::ZVProfileStore&, const std::string& name,
                                           std::string& error)>
      choose;
  std::function<std::optional<std::string>(zv::store::ZVProfileStore&, std::string& error)>
      chooseNone;
};

// Defines `command` as a profile choice: exactly one of NAME and --none, a missing profile
// refused with a pointer to `kinetra profiles`, a damaged info file refused with a
// pointer to `kinetra profiles --reset`.
void defineProfileChoice(CLI::App& command, ProfileChoice choice);

}  // namespace kinetra
