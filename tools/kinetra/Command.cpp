#include "Command.h"

#include <algorithm>
#include <iostream>

namespace kinetra {

namespace {
std::vector<Command>& registry() {
  static std::vector<Command> list;
  return list;
}
}  // namespace

const std::vector<Command>& commands() {
  return registry();
}

CommandRegistration::CommandRegistration(std::string name, std::string summary, std::string usage,
                                         CommandFunction run) {
  auto& list = registry();
  list.push_back({std::move(name), std::move(summary), std::move(usage), std::move(run)});
  std::sort(list.begin(), list.end(),
            [](const Command& a, const Command& b) { return a.name < b.name; });
}

bool wantsHelp(const Arguments& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& a) { return a == "-h" || a == "--help"; });
}

int usageError(const Command& command, std::string_view message) {
  std::cerr << "kinetra " << command.name << ": " << message << "\n\n" << command.usage;
  return 1;
}

const Command* findCommand(std::string_view name) {
  for (const Command& c : commands()) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

}  // namespace kinetra
