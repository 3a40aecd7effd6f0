// kinetra: inspect and exercise the suite from a terminal. Each subcommand lives in a file
// of its own and registers itself (see Command.h).
#include "Command.h"
#include "platform/InterruptDeadline.h"

int main(int argc, char** argv) {
  // Ctrl-C and SIGTERM end every command within a second, even one whose loop is stuck.
  zv::platform::startInterruptDeadline();
  return kinetra::runCommandLine(argc, argv);
}
