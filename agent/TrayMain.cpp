// The entry of perch-tray.so (TrayModule.h).
#include <QApplication>

#include "QtStatusBar.h"
#include "TrayModule.h"
#include "desktop/RunLoopNotifier.h"
#include "platform/RunLoop.h"
#include "platform/linux/BusConnection.h"

extern "C" __attribute__((visibility("default"))) int perchTrayMain(zv::agent::TrayRun& run) {
  QApplication application(run.argc, run.argv);
  // The agent has no window; closing a menu must not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  zv::desktop::RunLoopNotifier notifier(zv::platform::RunLoop::main(), &application);
  run.quit = [] { QCoreApplication::quit(); };
  auto statusBar = std::make_shared<zv::agent::QtStatusBar>();
  // Without a session bus nobody can be asked: the icon is made at once.
  if (auto bus = zv::platform::BusConnection::openSession(zv::platform::RunLoop::main())) {
    statusBar->watchHosts(std::move(*bus));
  }
  run.start(statusBar);
  const int status = QApplication::exec();
  run.quit = {};
  run.finish();
  return status;
}
