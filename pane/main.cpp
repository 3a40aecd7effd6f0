// gable: the settings window of the mouse suite.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <string_view>

#include "com_zenvor_PrefPaneSkarn.h"
#include "desktop/RunLoopNotifier.h"
#include "platform/RunLoop.h"
#include "protocol/SuiteVersion.h"

int main(int argc, char** argv) {
  // Answered before Qt starts: no display is needed to ask.
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--version") {
      std::printf("gable %s\n", zv::kSuiteVersion);
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
