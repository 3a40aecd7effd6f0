// focus_peer BUS_ADDRESS SCRIPT_FOLDER: a KWin focus provider in a process of its own,
// for the test of what a provider that crashes leaves behind. It prints its script's
// plug-in name once the script reports, then waits to be killed.
#include <cstdio>

#include "platform/RunLoop.h"
#include "platform/linux/KWinFrontmostApplication.h"

int main(int argc, char** argv) {
  using namespace zv::platform;
  if (argc != 3) return 2;
  RunLoop& loop = RunLoop::main();
  auto bus = BusConnection::open(loop, argv[1]);
  if (!bus) return 1;
  auto provider = KWinFrontmostApplication::open(std::move(*bus), argv[2]);
  if (!provider) return 1;
  if (!loop.runUntil([&] { return (*provider)->current().has_value(); }, std::chrono::seconds(30)))
    return 1;
  std::printf("%s\n", (*provider)->pluginName().c_str());
  std::fflush(stdout);
  loop.run();
  return 0;
}
