// zenvor-report-replay: feeds a report script through the driver's report path and prints
// what the system and user space would see, so the driver's behaviour can be checked
// without a mouse.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "core/DebugLog.h"
#include "replay/ReplayScript.h"

namespace {

const char kUsage[] =
    R"(usage: zenvor-report-replay [--debug] [SCRIPT]

Reads a report script (from SCRIPT, or standard input when it is absent or "-") and runs
it through the driver's report path with a simulated clock.

Script lines ('#' starts a comment; numbers are decimal or 0x-hexadecimal):
  product 0xPPPP           start a device with this USB product ID
  descriptor HEX...        the device's own report descriptor (optional, right after
                           'product'; else the built-in one of the device type)
  descriptor-file PATH     the same from a file: raw bytes (as in /sys/class/hidraw/
                           hidrawN/device/report_descriptor) or hex text with '#'
                           comments; a relative PATH is taken from the script's folder
  override ELEMENT 0|1     override (suppress) an element, e.g. override 0x90009 1
  buttons MASK             force button states on (ORed into every report); bits beyond
                           the device's buttons are dropped
  precision ELEMENT PCT    precision-aim element and percentage (element 0 keeps it)
  axis ELEMENT 1|2         use an element as pointer X (1) or Y (2) axis; 0 removes it
  hat ELEMENT              mark an element as a hat (moves the pointer when it is the X axis)
  report HEX...            one raw input report, e.g. report 00 01 00 00 00 00 00
  wait MS                  let MS milliseconds pass (the pointer keeps stepping every 10 ms)
  model                    print the report handler's elements

Output lines:
  device ...               the device type, the descriptor the system sees, the mouse report
  report RAW -> REWRITTEN  one report as read and as the system receives it
  event ELEMENT VALUE      an element event sent to user space
  pointer @Tms HEX...      a synthetic pointer report, at simulated time T
  note: ...                a request that was ignored or cut down, and why

  --debug   also write the driver's debug log (report bytes, mouse reports) to stderr
  --help    show this text

Exit status 0, or 1 with "zenvor-report-replay: line N: ..." on standard error at the first
bad script line.
)";

}  // namespace

int main(int argc, char** argv) {
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--debug") == 0) {
      zv::driver::setDebugLogging(true);
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "zenvor-report-replay: unknown option '%s' (see --help)\n", argv[i]);
      return 1;
    } else if (path) {
      std::fprintf(stderr, "zenvor-report-replay: more than one script given (see --help)\n");
      return 1;
    } else {
      path = argv[i];
    }
  }

  std::ifstream file;
  std::istream* in = &std::cin;
  if (path && std::strcmp(path, "-") != 0) {
    file.open(path);
    if (!file) {
      std::fprintf(stderr, "zenvor-report-replay: cannot read %s: %s\n", path,
                   std::strerror(errno));
      return 1;
    }
    in = &file;
  }

  zv::driver::replay::ReplayScript script(std::cout);
  if (path && std::strcmp(path, "-") != 0) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    script.setBaseFolder(folder.empty() ? "." : folder.string());
  }
  std::string error;
  if (!script.run(*in, &error)) {
    std::cout.flush();
    std::fprintf(stderr, "zenvor-report-replay: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
