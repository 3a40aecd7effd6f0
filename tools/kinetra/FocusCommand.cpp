// kinetra focus [--switch] [--count N] [--device ALIAS] [--bundle PATH]
#include <signal.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "platform/OpenFrontmostApplication.h"
#include "platform/RunLoop.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

constexpr const char* kName = "focus";

struct Options {
  DeviceOptions device;
  bool doSwitch = false;
  long long count = -1;
};

int run(const Options& options) {
  const bool doSwitch = options.doSwitch;
  const long long count = options.count;
  std::string error;
  auto& loop = zv::platform::RunLoop::main();
  // Before any thread starts, so that every thread inherits the blocked signals.
  if (!loop.watchSignals({SIGINT, SIGTERM}, [&loop](int) { loop.stop(); })) {
    return fail(kName, "cannot watch for interrupts");
  }
  const auto device = openDevice(options.device, error);
  if (!device) {
    if (doSwitch) return fail(kName, error);
    warn(kName, error + "; showing keys without profiles");
  }
  auto choice = zv::platform::openFrontmostApplication(loop);
  if (!choice.provider) return fail(kName, choice.unavailable);
  std::shared_ptr<zv::platform::FrontmostApplication> provider = std::move(choice.provider);
  const auto switcher =
      device ? zv::store::ZVProfileSwitcher::create(device, doSwitch ? provider : nullptr)
             : nullptr;
  const auto store = device ? storeOf(*device) : nullptr;

  std::cout << "following the focus through " << provider->providerName()
            << (doSwitch ? ", switching profiles" : "") << std::endl;
  long long seen = 0;
  provider->addObserver([&](const zv::platform::FocusedApplication& application) {
    if (application.none()) {
      std::cout << "(no window has the focus)";
    } else {
      std::cout << (application.name.empty() ? "?" : application.name) << " (pid "
                << application.pid << ")  ";
      const std::string key = zv::platform::applicationKey(application.executable);
      if (key.empty()) {
        std::cout << "(its program is not known)";
      } else {
        std::cout << key;
        if (switcher) {
          const auto linked = switcher->profileForKey(key);
          std::cout << "  -> " << (linked ? *linked : "no link");
        }
      }
    }
    if (doSwitch && store) {
      std::cout << "  [current: " << (store->noProfile() ? "none" : store->currentProfileName())
                << "]";
    }
    std::cout << std::endl;
    if (count > 0 && ++seen >= count) loop.stop();
  });
  if (provider->current()) {
    // The provider learnt the focus while it opened, before anyone listened.
    if (switcher && doSwitch) switcher->check();
  }
  loop.run();
  if (!provider->connected()) return fail(kName, provider->disconnectReason());
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Prints each change of the application that has the focus, as the agent sees it: the\n"
      "application, its key for kinetra link, and the profile its link would make current.\n"
      "The desktop is asked through its own interface (X11 window-manager hints, the sway/i3\n"
      "IPC socket, Hyprland's sockets, the package's GNOME Shell extension or a KWin script\n"
      "on KDE Plasma); `kinetra desktop` says which, and why not where none works.\n");
  command.add_flag("--switch", options->doSwitch, "also switch the profile, as the agent would");
  command
      .add_option("--count", options->count, "end after N changes (default: run until interrupted)")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  addDeviceOptions(command, options->device);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "follow the application that has the focus", define);

}  // namespace
}  // namespace kinetra
