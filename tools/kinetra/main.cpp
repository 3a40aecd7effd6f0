// kinetra: inspect and exercise the suite from a terminal.
#include <iostream>

#include "Command.h"

namespace {
void printHelp(std::ostream& out) {
  out << "usage: kinetra COMMAND [ARGS…]\n\n"
         "The command-line tool of the mouse suite.\n\ncommands:\n";
  for (const auto& command : kinetra::commands()) {
    out << "  " << command.name
        << std::string(command.name.size() < 10 ? 10 - command.name.size() : 1, ' ')
        << command.summary << "\n";
  }
  out << "\nRun 'kinetra COMMAND --help' for a command's options.\n";
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printHelp(std::cerr);
    return 1;
  }
  const std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") {
    printHelp(std::cout);
    return 0;
  }
  const kinetra::Command* command = kinetra::findCommand(name);
  if (!command) {
    std::cerr << "kinetra: unknown command '" << name << "'\n\n";
    printHelp(std::cerr);
    return 1;
  }
  kinetra::Arguments args(argv + 2, argv + argc);
  if (kinetra::wantsHelp(args)) {
    std::cout << command->usage;
    return 0;
  }
  try {
    return command->run(args);
  } catch (const std::exception& e) {
    std::cerr << "kinetra " << name << ": " << e.what() << "\n";
    return 1;
  }
}
