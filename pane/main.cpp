// gable: the settings window of the mouse suite.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <string_view>

#include "com_zenvor_PrefPaneSkarn.h"
#include "desktop/RunLoopNotifier.h"
#include "platform/RunLoop.h"

namespace {

constexpr const char* kUsage =
    "gable: the settings window of the mouse suite. Shows or hides the tray agent's status\n"
    "item, opens the editor and runs the uninstaller.\n"
    "\n"
    "Usage: gable [Qt options, e.g. -platform NAME]\n"
    "  -h, --help  print this help and exit\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt looks for a display, so it works in a terminal without one.
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  QApplication application(argc, argv);
  const auto bundle = zv::support::Bundle::main();
  if (!bundle) {
    QMessageBox::critical(nullptr, "gable",
                          "gable must run from its application folder "
                          "(<Name>.prefPane/Contents/Linux/gable), where it finds its settings.");
    return 1;
  }
  zv::desktop::RunLoopNotifier notifier(zv::platform::RunLoop::main(), &application);
  zv::pane::com_zenvor_PrefPaneSkarn pane(*bundle);
  pane.show();
  return application.exec();
}
