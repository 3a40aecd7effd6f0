// tessel: the profile editor of the mouse suite.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "AppIcon.h"
#include "DevelMode.h"
#include "DeviceAccess.h"
#include "IconProtocol.h"
#include "ZVAppDelegate.h"
#include "ZVScrollbarHack.h"
#include "desktop/RunLoopNotifier.h"
#include "output/InputDevices.h"
#include "output/RunLoopFdWatcher.h"
#include "platform/RunLoop.h"
#include "protocol/SuiteVersion.h"
#include "store/ZVProfileSwitcher.h"

int main(int argc, char** argv) {
  CLI::App cli(
      "tessel: the profile editor. Edits the profiles of the installed mouse whose\n"
      "alias the editor's Info.plist names.");
  cli.allow_extras();  // Qt's own options (-platform, …)
  bool devel = false;
  zv::editor::DevelOptions develOptions;
  std::string root;
  std::string product = "0x1704";
  std::string bundles;
  std::string driver;
  cli.add_flag("--devel", devel,
               "run against a simulated mouse (zenvor-driver --simulate) in a private folder "
               "tree, with DevTools on 127.0.0.1");
  cli.add_option("--devel-root", root, "keep the private folder tree in DIR (default: temporary)")
      ->type_name("DIR");
  cli.add_option("--devtools-port", develOptions.devtoolsPort,
                 "DevTools protocol port in devel mode (default 9222)")
      ->check(CLI::Range(1, 65535));
  cli.add_option("--product", product, "the simulated mouse's product ID (default 0x1704)");
  std::string vendor = "0x5A56";
  cli.add_option("--vendor", vendor, "the simulated mouse's vendor ID (default 0x5A56)");
  cli.add_option("--descriptor-file", develOptions.descriptorFile,
                 "simulate any mouse from its report descriptor (e.g. data/mice/generic-mouse.hid)")
      ->type_name("FILE")
      ->check(CLI::ExistingFile);
  cli.add_option("--bundles", bundles, "device bundles offered in devel mode")->type_name("DIR");
  cli.add_option("--driver", driver, "the zenvor-driver to start in devel mode")->type_name("PATH");
  std::string device;
  cli.add_option("--device", device,
                 "edit the device with this alias instead of the one of the editor's Info.plist: "
                 "an adopted mouse (Mouse-046D-C52B, see kinetra mice) or Mouse, the first adopted")
      ->type_name("ALIAS");
  std::string page;
  cli.add_option("--page", page,
                 "in devel mode, load FILE of the device bundle's resources instead of its "
                 "Interface page (e.g. BridgeTest.html)")
      ->type_name("FILE");
  cli.set_version_flag("--version", std::string("tessel ") + zv::kSuiteVersion,
                       "print the version and exit");
  std::string uinput;
  cli.add_option("--check-access", uinput,
                 "in devel mode, check access to NODE as the editor checks /dev/uinput at "
                 "start-up (the page shows what will not work without it)")
      ->type_name("NODE");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version answer 0, a wrong command line 2.
    return cli.exit(error) == 0 ? 0 : 2;
  }

  // Ctrl-C and a polite kill end the editor like closing its window, so devel mode stops
  // its driver and removes its temporary folders. Set before any thread starts.
  auto& loop = zv::platform::RunLoop::main();
  loop.watchSignals({SIGINT, SIGTERM}, [](int) {
    QApplication::closeAllWindows();  // an alert waiting for its button too
    QApplication::quit();
  });

  std::unique_ptr<zv::editor::DevelMode> develMode;
  if (!devel && !page.empty()) {
    std::cerr << "tessel: --page works in devel mode only (add --devel)\n";
    return 1;
  }
  if (devel) {
    // A USB ID as decimal or 0x-hex, 0 to 0xFFFF.
    const auto parseId = [](const std::string& text, const char* what, const char* example,
                            std::uint16_t* out) {
      char* end = nullptr;
      const unsigned long id = std::strtoul(text.c_str(), &end, 0);
      if (text.empty() || *end != '\0' || id > 0xFFFF) {
        std::cerr << "tessel: '" << text << "' is not a " << what << " (0 to 0xFFFF, e.g. "
                  << example << ")\n";
        return false;
      }
      *out = static_cast<std::uint16_t>(id);
      return true;
    };
    if (!parseId(product, "product ID", "0x1704", &develOptions.product) ||
        !parseId(vendor, "vendor ID", "0x5A56", &develOptions.vendor)) {
      return 1;
    }
    if (!root.empty()) develOptions.root = root;
    develOptions.bundles =
        bundles.empty() ? zv::editor::defaultBundleFolder() : std::filesystem::path(bundles);
    develOptions.driver =
        driver.empty() ? zv::editor::defaultDriverPath() : std::filesystem::path(driver);
    std::string error;
    develMode = zv::editor::DevelMode::start(develOptions, &error);
    if (!develMode) {
      std::cerr << "tessel --devel: " << error << "\n";
      return 1;
    }
    std::cerr << develMode->banner(develOptions) << std::flush;
  }

  // The web engine's switches are read when it starts.
  zv::editor::ZVScrollbarHack::forceOverlayScrollbars();
  if (::geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) {
    // Chromium refuses its sandbox to root.
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  }
  zv::editor::IconProtocol::registerScheme();

  QApplication application(argc, argv);
  application.setQuitOnLastWindowClosed(false);
  application.setWindowIcon(zv::editor::appIcon());
  zv::desktop::RunLoopNotifier notifier(loop, &application);
  zv::output::setDefaultTapWatcher(std::make_shared<zv::output::RunLoopFdWatcher>(loop));

  zv::editor::AppDelegateOptions options;
  options.skipAccessCheck = devel && uinput.empty();
  if (devel && !uinput.empty()) {
    options.accessCheck = [uinput] { return zv::editor::refusedNodes({uinput}); };
  }
  options.alias = device;
  if (develMode) {
    options.page = page;
    options.keyInput = develMode->keyInput();
    // Devel mode runs from a terminal (and under tests, offscreen): alerts go there
    // instead of waiting for a button nobody can press.
    options.alert = [](const std::string& message, const std::string& informative) {
      std::cerr << "tessel: " << message << "\n" << informative << "\n";
    };
  }
  zv::editor::ZVAppDelegate delegate(options);
  if (!delegate.applicationDidFinishLaunching()) return 1;
  const int status = application.exec();
  // A provider that loaded a script into the desktop unloads it now.
  zv::store::ZVProfileSwitcher::closeSharedFrontmostApplication();
  zv::output::setDefaultTapWatcher(nullptr);
  return status;
}
