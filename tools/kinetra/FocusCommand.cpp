// kinetra focus [--switch] [--count N] [--device ALIAS] [--bundle PATH]
#include <signal.h>

#include <charconv>
#include <iostream>

#include "DeviceOption.h"
#include "platform/OpenFrontmostApplication.h"
#include "platform/RunLoop.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

const char* const kUsage =
    "usage: kinetra focus [--switch] [--count N] [--device ALIAS] [--bundle PATH]\n\n"
    "Follows the application that has the focus, as the agent does, and prints each\n"
    "change: the application, its key for kinetra link, and the profile its link would\n"
    "make current. The desktop is asked through its own interface (X11 window-manager\n"
    "hints, the sway/i3 IPC socket or Hyprland's sockets); desktops that do not tell\n"
    "(GNOME and KDE Plasma on Wayland) are reported as such.\n\n"
    "  --switch    also switch the profile, as the agent would\n"
    "  --count N   end after N changes (default: run until interrupted)\n";

int run(const Arguments& arguments) {
  Arguments args = arguments;
  DeviceOptions options;
  std::string error;
  if (!takeDeviceOptions(args, options, error)) return failWith("focus", error);
  bool doSwitch = false;
  long long count = -1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--switch") {
      doSwitch = true;
    } else if (args[i] == "--count" && i + 1 < args.size()) {
      const std::string& text = args[++i];
      const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), count);
      if (status != std::errc() || end != text.data() + text.size() || count < 1) {
        return usageError(*findCommand("focus"), "--count takes a whole number from 1");
      }
    } else {
      return usageError(*findCommand("focus"), "unexpected '" + args[i] + "'");
    }
  }

  auto& loop = zv::platform::RunLoop::main();
  // Before any thread starts, so that every thread inherits the blocked signals.
  if (!loop.watchSignals({SIGINT, SIGTERM}, [&loop](int) { loop.stop(); })) {
    return failWith("focus", "cannot watch for interrupts");
  }
  const auto device = openDevice(options, error);
  if (!device) {
    if (doSwitch) return failWith("focus", error);
    std::cerr << "kinetra focus: " << error << "; showing keys without profiles\n";
  }
  auto choice = zv::platform::openFrontmostApplication(loop);
  if (!choice.provider) return failWith("focus", choice.unavailable);
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
  if (!provider->connected()) return failWith("focus", provider->disconnectReason());
  return 0;
}

const CommandRegistration registration("focus", "follow the application that has the focus", kUsage,
                                       run);

}  // namespace
}  // namespace kinetra
