// A Wayland client window for the focus tests on real compositors: one plain window that
// stays open until the process is ended. Copied under another name it is another
// application, as the providers know applications by their executable.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QCoreApplication::applicationName());
  window.resize(240, 160);
  window.show();
  return QApplication::exec();
}
