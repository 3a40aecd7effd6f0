// kinetra: inspect and exercise the suite from a terminal. Each subcommand lives in a file
// of its own and registers itself (see Command.h).
#include "Command.h"

int main(int argc, char** argv) {
  return kinetra::runCommandLine(argc, argv);
}
