// debian-guest-test: the steps of the installation test, run inside a Debian 12 machine
// (systemd, udev, logind, a user logged in at the seat) as root. The host side boots the
// machine with the suite's packages in a shared folder and reads the lines this prints:
//
//   BOOT 21.4                         seconds from the kernel's start to this program's
//   PASS install (14.20 s): …         one line per step, as the guest's checks print them
//   FAIL upgrade (30.02 s): …
//
//   debian-guest-test --package DEB --previous DEB --staged TAR [--cycles N] [--adopt]
//                     [--only NAME,...] [--list]
//
// Exit status: 0 when every step passed, 1 when one failed, 2 for a usage error.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "AdoptStep.h"
#include "MouseSteps.h"
#include "PackageSteps.h"

namespace {

void usage(std::ostream& out) {
  out << "usage: debian-guest-test --package DEB --previous DEB --staged TAR [--cycles N]\n"
         "                         [--adopt] [--only NAME,...] [--list]\n"
         "  --package DEB   the suite's package under test\n"
         "  --previous DEB  the package to upgrade from (a lower version)\n"
         "  --staged TAR    `cmake --install` into a staging root, as a tar\n"
         "  --cycles N      plug and unplug cycles of the mouse (default 200)\n"
         "  --adopt         also adopt a plain mouse with `kinetra adopt` and release it\n"
         "  --only          run only these steps (those they need must be named too)\n"
         "  --list          print the names of the steps, in the order they run\n";
}

std::set<std::string> splitNames(const std::string& text) {
  std::set<std::string> names;
  std::istringstream in(text);
  for (std::string name; std::getline(in, name, ',');) {
    if (!name.empty()) names.insert(name);
  }
  return names;
}

std::string uptime() {
  std::ifstream in("/proc/uptime");
  std::string seconds;
  in >> seconds;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  zv::vmtest::SystemGuest guest;
  // Services and the package manager under emulation: a generous bound for one wait.
  guest.session.options.bound = std::chrono::milliseconds(10000);
  auto& options = guest.options;
  std::set<std::string> only;
  bool list = false;
  bool adopt = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--list") {
      list = true;
    } else if (arg == "--package" && hasValue) {
      options.package = argv[++i];
    } else if (arg == "--previous" && hasValue) {
      options.previousPackage = argv[++i];
    } else if (arg == "--staged" && hasValue) {
      options.stagedInstall = argv[++i];
    } else if (arg == "--adopt") {
      adopt = true;
    } else if (arg == "--only" && hasValue) {
      only = splitNames(argv[++i]);
    } else if (arg == "--cycles" && hasValue) {
      char* end = nullptr;
      options.plugCycles = std::strtoul(argv[++i], &end, 10);
      if (*end != '\0' || options.plugCycles == 0 || options.plugCycles > 100000) {
        std::cerr << "debian-guest-test: --cycles takes a count from 1 to 100000\n";
        return 2;
      }
    } else if (arg == "--help" || arg == "-h") {
      usage(std::cout);
      return 0;
    } else {
      std::cerr << "debian-guest-test: unknown argument '" << arg << "'\n";
      usage(std::cerr);
      return 2;
    }
  }
  if (!list && (options.package.empty() || options.previousPackage.empty() ||
                options.stagedInstall.empty())) {
    usage(std::cerr);
    return 2;
  }

  zv::vmtest::addInstallStep(guest);
  zv::vmtest::addMouseSteps(guest, adopt ? zv::vmtest::addAdoptStep : nullptr);
  zv::vmtest::addUpgradeAndRemovalSteps(guest);

  if (list) {
    for (const auto& name : guest.session.checks.names()) std::cout << name << '\n';
    return 0;
  }
  std::cout << "BOOT " << uptime() << std::endl;
  const int failures = guest.session.checks.run(only, std::cout);
  std::cout << "steps: " << (failures == 0 ? "all passed" : std::to_string(failures) + " failed")
            << std::endl;
  return failures == 0 ? 0 : 1;
}
