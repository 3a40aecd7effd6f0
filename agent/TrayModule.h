// The tray lives in a module of its own (perch-tray.so, beside the perch executable), so
// that `perch --headless` never loads Qt: a server or a trayless session pays for neither
// its memory nor its start-up. perch loads the module only to show a tray and hands it a
// TrayRun; the module makes the QApplication, the status bar and the run-loop notifier,
// lets perch start the agent on that status bar, runs Qt's event loop and tells perch
// before the application goes away.
//
// Threads: the main thread; the module's entry returns when the agent ends.
#pragma once

#include <functional>
#include <memory>

namespace zv::agent {

class StatusBar;

struct TrayRun {
  int argc = 0;
  char** argv = nullptr;
  // Called once the tray exists: the agent starts on it.
  std::function<void(std::shared_ptr<StatusBar> statusBar)> start;
  // Called after the event loop ends and before the tray's objects and the application
  // go: the agent stops and lets go of the status bar.
  std::function<void()> finish;
  // Set by the module: ends the event loop (the agent's stop signals call it).
  std::function<void()> quit;
};

// The module's entry, found with dlsym: runs the tray until quit(); answers the exit status.
using TrayMain = int (*)(TrayRun& run);
inline constexpr const char* kTrayModuleFile = "perch-tray.so";
inline constexpr const char* kTrayMainSymbol = "perchTrayMain";

}  // namespace zv::agent
