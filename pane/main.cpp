// gable: the settings window of the mouse suite.
#include <QApplication>
#include <QMessageBox>

#include "com_zenvor_PrefPaneSkarn.h"
#include "desktop/RunLoopNotifier.h"
#include "platform/RunLoop.h"

int main(int argc, char** argv) {
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
