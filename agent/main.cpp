// perch: the tray agent of the mouse suite, the one process that runs profiles. See --help.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "AgentOutput.h"
#include "FocusExtensionSetup.h"
#include "InputPriority.h"
#include "InstanceLock.h"
#include "TrayModule.h"
#include "device/ProfileStoreFactory.h"
#include "menuAppDelegate.h"
#include "output/InputDevices.h"
#include "output/RunLoopFdWatcher.h"
#include "platform/RunLoop.h"
#include "protocol/SuiteVersion.h"
#include "store/ProfileFilesStoreFactory.h"
#include "support/Bundle.h"

namespace {

using zv::platform::RunLoop;

const char kDescription[] =
    "The tray agent of the mouse suite: it runs your profiles. It finds the mouse of its\n"
    "device bundle (the \"Alias\" of its Info.plist), connects to the zenvor-driver that\n"
    "serves it, and turns every press of a reprogrammed button into what the current\n"
    "profile says: keys, media keys, wheel steps, mouse buttons, macros, opened files. Its\n"
    "tray icon opens the editor (left click) and picks the profile (right click).\n\n"
    "Without a tray, or with --headless, it runs all the same; switch profiles with\n"
    "`kinetra use NAME`. SIGTERM and SIGINT end it cleanly: running commands stop, held\n"
    "keys are let go and the mouse's buttons are handed back to the driver.\n\n"
    "Environment: KINETRA_SIMULATED_DEVICES=1 finds the simulated mice of `zenvor-driver\n"
    "--simulate`; KINETRA_FOCUS_FIFO=PATH reads focus changes (executable paths, one per\n"
    "line) from a FIFO instead of the desktop; KINETRA_LOG sets how much is logged.\n";

struct Options {
  std::string device;
  bool headless = false;
  std::string output = "uinput";
  std::vector<std::string> files;
};

int fail(const std::string& message) {
  std::fprintf(stderr, "perch: %s\n", message.c_str());
  return 1;
}

// The tray module's entry, loaded from beside the executable; nothing (after saying why)
// when it cannot be loaded.
zv::agent::TrayMain loadTray() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const auto module = self.parent_path() / zv::agent::kTrayModuleFile;
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "perch: cannot load the tray (%s): running without it\n", ::dlerror());
    return nullptr;
  }
  // The handle stays open for the life of the process.
  auto entry = reinterpret_cast<zv::agent::TrayMain>(::dlsym(handle, zv::agent::kTrayMainSymbol));
  if (!entry)
    std::fprintf(stderr, "perch: %s has no tray entry: running without it\n", module.c_str());
  return entry;
}

bool haveDisplay() {
  for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zv::agent;
  // A reader of the record that goes away must not end the agent.
  ::signal(SIGPIPE, SIG_IGN);

  Options options;
  CLI::App app(kDescription, "perch");
  app.add_flag("--headless", options.headless,
               "run without the tray and without a display (servers, tests, desktops without "
               "a tray)");
  app.add_option("--output", options.output,
                 "where keys and wheel steps go: uinput (the desktop, default), record (lines "
                 "on standard output), record:FILE, or uinput+record[:FILE] (the desktop, and "
                 "the record as well)")
      ->type_name("WHERE");
  app.add_option("--device", options.device,
                 "serve the device with this alias instead of the one of perch's Info.plist: an "
                 "adopted mouse (Mouse-046D-C52B, see kinetra mice) or Mouse, the first adopted")
      ->type_name("ALIAS");
  app.add_option("files", options.files, "files given to open (accepted and left alone)")
      ->type_name("FILE");
  // Qt's own options (-platform, -style, …) pass through to Qt.
  app.allow_extras();
  app.set_version_flag("--version", std::string("perch ") + zv::kSuiteVersion,
                       "print the version and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version answer 0, a wrong command line 2.
    return app.exit(e) == 0 ? 0 : 2;
  }

  // Before any thread exists, so that every thread inherits the blocked signals and they
  // reach only the main loop.
  RunLoop& loop = RunLoop::main();
  std::function<void()> quit = [&loop] { loop.stop(); };
  if (!loop.watchSignals({SIGINT, SIGTERM, SIGHUP}, [&quit](int) { quit(); })) {
    return fail("cannot watch for SIGTERM and SIGINT");
  }

  // This thread runs the library's loop, where the mouse's events arrive and are answered.
  InputPriority inputPriority(::gettid());

  const auto bundle = zv::support::Bundle::main();
  if (!bundle) {
    return fail(
        "perch must run from its application folder (Perch.app/Contents/Linux/perch), where "
        "it finds its Info.plist; set KINETRA_APP_BUNDLE to that folder otherwise");
  }
  const zv::json::Value alias = bundle->objectForInfoDictionaryKey("Alias");
  auto lock = InstanceLock::acquire(!options.device.empty() ? options.device
                                    : alias.isString()      ? alias.asString()
                                                            : std::string());
  if (!lock) {
    if (lock.failure().is(InstanceLock::kInstanceLockDomain, InstanceLock::kHeld)) {
      // Started twice (the autostart entry and the user unit): the first one serves.
      std::fprintf(stderr, "perch: %s; this one ends\n", lock.failure().message.c_str());
      return 0;
    }
    std::fprintf(stderr, "perch: %s; running without it\n", lock.failure().message.c_str());
  }
  auto output = AgentOutput::install(options.output);
  if (!output) return fail(output.failure().message);
  zv::device::setProfileStoreFactory(std::make_shared<zv::store::ProfileFilesStoreFactory>());
  zv::output::setDefaultTapWatcher(std::make_shared<zv::output::RunLoopFdWatcher>(loop));

  AgentServices services;
  services.bundle = *bundle;
  services.alias = options.device;
  services.trace = (*output)->record();

  if (!options.headless && !haveDisplay()) {
    std::fprintf(stderr,
                 "perch: no desktop session (neither WAYLAND_DISPLAY nor DISPLAY is set): "
                 "running without the tray\n");
    options.headless = true;
  }

  // Before the switcher opens the focus provider, which listens to the extension.
  enableFocusExtensionOnFirstStart();

  std::shared_ptr<menuAppDelegate> agent;
  const auto launch = [&](std::shared_ptr<StatusBar> statusBar) {
    services.statusBar = std::move(statusBar);
    agent = menuAppDelegate::create(std::move(services));
    agent->applicationDidFinishLaunching();
    for (const auto& file : options.files) agent->applicationOpenFile(file);
  };
  const TrayMain tray = options.headless ? nullptr : loadTray();
  if (tray) {
    TrayRun run;
    run.argc = argc;
    run.argv = argv;
    run.start = launch;
    // The tray's objects go before the application that made them.
    run.finish = [&] {
      if (agent) agent->applicationWillTerminate();
      agent.reset();
    };
    quit = [&run] {
      if (run.quit) run.quit();
    };
    tray(run);
    quit = [&loop] { loop.stop(); };
  } else {
    launch(nullptr);
    loop.run();
    agent->applicationWillTerminate();
  }
  (*output)->finish();
  return 0;
}
