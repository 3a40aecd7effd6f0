#include "IconProtocol.h"

#include <QBuffer>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "DesktopEntries.h"
#include "support/Bundle.h"

namespace zv::editor {

namespace {

// Icons are drawn at this size when they come from a theme or the desktop.
constexpr int kIconSize = 128;

bool registered = false;

QImage imageFromFile(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  return reader.read();
}

bool isPictureFile(const QFileInfo& info) {
  const QByteArray suffix = info.suffix().toLower().toUtf8();
  return info.isFile() && !suffix.isEmpty() &&
         QImageReader::supportedImageFormats().contains(suffix);
}

QImage themeOrFileIcon(const std::string& icon) {
  if (icon.empty()) return {};
  const QString name = QString::fromStdString(icon);
  if (name.startsWith('/')) return imageFromFile(name);
  QIcon themed = QIcon::fromTheme(name);
  if (!themed.isNull()) return themed.pixmap(kIconSize, kIconSize).toImage();
  for (const char* extension : {".png", ".svg", ".xpm"}) {
    const QString pixmap = QStringLiteral("/usr/share/pixmaps/") + name + extension;
    if (QFileInfo::exists(pixmap)) return imageFromFile(pixmap);
  }
  return {};
}

QImage applicationIcon(const QString& executable) {
  if (auto application = applicationForExecutable(executable.toStdString())) {
    return themeOrFileIcon(application->entry.icon);
  }
  return {};
}

QImage folderApplicationIcon(const QString& folder) {
  const support::Bundle bundle(folder.toStdString());
  const auto iconFile = bundle.objectForInfoDictionaryKey("CFBundleIconFile");
  if (iconFile.isString()) {
    if (auto path = bundle.pathForResource(iconFile.asString())) {
      return imageFromFile(QString::fromStdString(path->string()));
    }
  }
  const auto executable = bundle.objectForInfoDictionaryKey("CFBundleExecutable");
  if (executable.isString()) {
    return applicationIcon(folder + "/Contents/Linux/" +
                           QString::fromStdString(executable.asString()));
  }
  return {};
}

}  // namespace

void IconProtocol::registerScheme() {
  QWebEngineUrlScheme scheme(iconProtocolScheme());
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
  QWebEngineUrlScheme::registerScheme(scheme);
}

void IconProtocol::registerIconProtocol(QWebEngineProfile* profile) {
  if (registered) return;
  registered = true;
  profile->installUrlSchemeHandler(iconProtocolScheme(), new IconProtocol(profile));
}

bool IconProtocol::isRegistered() {
  return registered;
}

bool IconProtocol::canInitWithRequest(const QUrl& url) {
  return url.scheme().compare(QString::fromLatin1(iconProtocolScheme()), Qt::CaseInsensitive) == 0;
}

QByteArray IconProtocol::iconPNGForPath(const QString& path) {
  if (!path.startsWith('/')) return {};
  const QFileInfo info(path);
  QImage image;
  if (isPictureFile(info)) {
    image = imageFromFile(path);
  } else if (info.isDir() && QFileInfo::exists(path + "/Contents/Info.plist")) {
    image = folderApplicationIcon(path);
  } else if (info.isFile() && info.isExecutable()) {
    image = applicationIcon(path);
  }
  // A picture that does not decode shows nothing rather than a file-type icon.
  if (image.isNull() && info.exists() && !isPictureFile(info)) {
    image = QFileIconProvider().icon(info).pixmap(kIconSize, kIconSize).toImage();
  }
  if (image.isNull()) return {};
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png;
}

void IconProtocol::requestStarted(QWebEngineUrlRequestJob* job) {
  const QUrl url = job->requestUrl();
  if (!canInitWithRequest(url)) {
    job->fail(QWebEngineUrlRequestJob::UrlInvalid);
    return;
  }
  auto* buffer = new QBuffer(job);
  buffer->setData(iconPNGForPath(url.path(QUrl::FullyDecoded)));
  buffer->open(QIODevice::ReadOnly);
  job->reply(QByteArrayLiteral("image/png"), buffer);
}

}  // namespace zv::editor
