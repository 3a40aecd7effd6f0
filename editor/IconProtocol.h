// The "icon" URL scheme of the editor's pages: "icon:" followed by an absolute path
// (percent-escapes allowed) answers a PNG picture of that path:
//
//   icon:/home/me/Pictures/fire.png      the picture itself, re-encoded as PNG
//   icon:/usr/bin/firefox                the application's icon, from its desktop entry's
//                                        Icon (a theme icon or a file)
//   icon:/…/Zenvor Editor.app            an application folder's icon (CFBundleIconFile
//                                        in its resources, else its executable's)
//   anything else                        the icon the desktop shows for the file's type
//
// Pictures are served as PNG, not TIFF: the web engine cannot decode TIFF, and a page
// would show nothing. A path with nothing to show answers "image/png" with no data.
// Responses are not cached, so a changed picture shows at the next load.
//
// The scheme is compared without regard to case and is local: pages loaded from files
// may use it.
//
// Threads: registerScheme() before the application object exists; everything else on the
// GUI thread, where the web engine hands over requests.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

namespace zv::editor {

class IconProtocol : public QWebEngineUrlSchemeHandler {
 public:
  static QByteArray iconProtocolScheme() { return QByteArrayLiteral("icon"); }
  // Declares the scheme to the web engine; once, before the QApplication is created.
  static void registerScheme();
  // Installs the handler on the profile; only the first call in a process has an effect.
  static void registerIconProtocol(QWebEngineProfile* profile);
  static bool isRegistered();

  // Whether the URL's scheme is "icon", in any case.
  static bool canInitWithRequest(const QUrl& url);
  // The PNG bytes for the path (empty when there is nothing to show).
  static QByteArray iconPNGForPath(const QString& path);

  void requestStarted(QWebEngineUrlRequestJob* job) override;

 private:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
};

}  // namespace zv::editor
