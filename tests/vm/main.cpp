// vm-guest-test: the checks that run inside the test virtual machine, on a real kernel with
// real uhid, hidraw, evdev and uinput. The host side boots the machine with this program in
// its initramfs and reads the PASS, FAIL and METRIC lines it prints.
//
//   vm-guest-test [--list] [--only NAME,...] [--reports N] [--break LINK]
//
// Exit status: 0 when every check passed, 1 when one failed, 2 for a usage error.
#include <cstdlib>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "AgentChecks.h"
#include "AnyMouseChecks.h"
#include "DriverChecks.h"
#include "GuestSession.h"
#include "KernelPathChecks.h"
#include "SuiteProgramChecks.h"
#include "UsbMouseChecks.h"

namespace {

void usage(std::ostream& out) {
  out << "usage: vm-guest-test [--list] [--only NAME,...] [--reports N] [--break LINK]\n"
         "  --list        print the names of the checks, in the order they run\n"
         "  --only        run only these checks (those they need must be named too)\n"
         "  --reports N   reports per latency measurement (default 10000)\n"
         "  --break LINK  break a link on purpose to prove the checks notice:\n"
         "                wrong-descriptor, no-grab, no-agent-output\n";
}

std::set<std::string> splitNames(const std::string& text) {
  std::set<std::string> names;
  std::istringstream in(text);
  for (std::string name; std::getline(in, name, ',');) {
    if (!name.empty()) names.insert(name);
  }
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  zv::vmtest::GuestSession session;
  std::set<std::string> only;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--list") {
      list = true;
    } else if (arg == "--only" && hasValue) {
      only = splitNames(argv[++i]);
    } else if (arg == "--reports" && hasValue) {
      char* end = nullptr;
      const unsigned long count = std::strtoul(argv[++i], &end, 10);
      if (*end != '\0' || count == 0 || count > 1000000) {
        std::cerr << "vm-guest-test: --reports takes a count from 1 to 1000000\n";
        return 2;
      }
      session.options.latencyReports = count;
    } else if (arg == "--break" && hasValue) {
      session.options.breakLink = argv[++i];
      if (!zv::vmtest::isBreakableLink(session.options.breakLink)) {
        std::cerr << "vm-guest-test: no link '" << session.options.breakLink << "' to break\n";
        usage(std::cerr);
        return 2;
      }
    } else if (arg == "--help" || arg == "-h") {
      usage(std::cout);
      return 0;
    } else {
      std::cerr << "vm-guest-test: unknown argument '" << arg << "'\n";
      usage(std::cerr);
      return 2;
    }
  }

  zv::vmtest::addKernelPathChecks(session);
  zv::vmtest::addUsbMouseChecks(session);
  zv::vmtest::addDriverChecks(session);
  zv::vmtest::addAgentChecks(session);
  zv::vmtest::addSuiteProgramChecks(session);
  zv::vmtest::addUsbUnplugCheck(session);
  zv::vmtest::addAnyMouseChecks(session);
  zv::vmtest::addUnplugCheck(session);

  if (list) {
    for (const auto& name : session.checks.names()) std::cout << name << '\n';
    return 0;
  }
  if (!session.options.breakLink.empty()) {
    std::cout << "BROKEN on purpose: " << session.options.breakLink << std::endl;
  }
  const int failures = session.checks.run(only, std::cout);
  std::cout << "checks: " << (failures == 0 ? "all passed" : std::to_string(failures) + " failed")
            << std::endl;
  return failures == 0 ? 0 : 1;
}
