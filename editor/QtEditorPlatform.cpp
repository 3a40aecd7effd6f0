#include "QtEditorPlatform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <cstdlib>
#include <fstream>

#include "AppLinkDialog.h"
#include "MouseSettings.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/SpawnProcess.h"

namespace zv::editor {

namespace {

std::string fileURL(const QString& path) {
  return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toStdString();
}

}  // namespace

std::vector<std::string> QtEditorPlatform::chooseApplications(const std::string& title) {
  AppLinkDialog dialog(QString::fromStdString(title));
  if (dialog.exec() != QDialog::Accepted || dialog.chosenExecutable().isEmpty()) return {};
  return {dialog.chosenExecutable().toStdString()};
}

std::optional<std::string> QtEditorPlatform::chooseImage(
    const std::string& title, const std::vector<std::string>& extensions) {
  QStringList patterns;
  for (const auto& extension : extensions) {
    patterns << QStringLiteral("*.") + QString::fromStdString(extension);
  }
  const QString path =
      QFileDialog::getOpenFileName(nullptr, QString::fromStdString(title), QDir::homePath(),
                                   QStringLiteral("Images (%1)").arg(patterns.join(' ')));
  if (path.isEmpty()) return std::nullopt;
  return fileURL(path);
}

std::optional<std::string> QtEditorPlatform::chooseFile(const std::string& title) {
  const QString path =
      QFileDialog::getOpenFileName(nullptr, QString::fromStdString(title), QDir::homePath());
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

void QtEditorPlatform::openURL(const std::string& url) {
  QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(url)));
}

void QtEditorPlatform::openMouseSettings() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  const auto launch = mouseSettingsLaunch(desktop ? desktop : "", platform::isExecutableInPath);
  if (!launch.command.empty()) {
    platform::SpawnOptions options;
    options.newSession = true;
    options.nullInput = true;
    const auto started = platform::spawnProcess(launch.command, options, platform::RunLoop::main());
    if (started) return;
    QMessageBox::warning(
        nullptr, QStringLiteral("Mouse settings"),
        QString::fromStdString("Cannot open the mouse settings: " + started.failure().message));
    return;
  }
  QMessageBox::information(nullptr, QStringLiteral("Mouse settings"),
                           QString::fromStdString(launch.message));
}

std::vector<std::string> QtEditorPlatform::preferredLanguages() {
  std::vector<std::string> languages;
  for (const QString& language : QLocale::system().uiLanguages()) {
    if (language == QStringLiteral("C") || language == QStringLiteral("POSIX")) continue;
    languages.push_back(language.toStdString());
  }
  return languages;
}

std::string QtEditorPlatform::nativeLanguageName(const std::string& locale) {
  const QLocale language(QString::fromStdString(locale));
  const QString name = language.nativeLanguageName();
  if (language.language() == QLocale::C || name.isEmpty()) return locale;
  return name.toStdString();
}

std::filesystem::path QtEditorPlatform::framesFile() {
  return platform::preferencesFolder() / "com.zenvor.Kinetra.Tessel.ini";
}

std::optional<Rect> QtEditorPlatform::savedFrame(const std::string& name) {
  QSettings settings(QString::fromStdString(framesFile().string()), QSettings::IniFormat);
  const QVariant value = settings.value(QString::fromStdString(name));
  const QRect frame = value.toRect();
  if (!value.isValid() || frame.width() <= 0 || frame.height() <= 0) return std::nullopt;
  return Rect{static_cast<double>(frame.x()), static_cast<double>(frame.y()),
              static_cast<double>(frame.width()), static_cast<double>(frame.height())};
}

void QtEditorPlatform::saveFrame(const std::string& name, const Rect& frame) {
  QSettings settings(QString::fromStdString(framesFile().string()), QSettings::IniFormat);
  settings.setValue(QString::fromStdString(name),
                    QRect(static_cast<int>(frame.x), static_cast<int>(frame.y),
                          static_cast<int>(frame.width), static_cast<int>(frame.height)));
}

// --- Scripted -----------------------------------------------------------------------------------

void ScriptedEditorPlatform::record(const std::string& line) {
  std::ofstream out(folder_ / "opened", std::ios::app);
  out << line << '\n';
}

std::vector<std::string> ScriptedEditorPlatform::chooseApplications(const std::string& title) {
  record("chooser " + title);
  std::ifstream in(folder_ / "applications");
  std::vector<std::string> chosen;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) chosen.push_back(line);
  }
  return chosen;
}

std::optional<std::string> ScriptedEditorPlatform::chooseImage(
    const std::string& title, const std::vector<std::string>& /*extensions*/) {
  record("chooser " + title);
  std::ifstream in(folder_ / "image");
  std::string path;
  if (!std::getline(in, path) || path.empty()) return std::nullopt;
  return fileURL(QString::fromStdString(path));
}

std::optional<std::string> ScriptedEditorPlatform::chooseFile(const std::string& title) {
  record("chooser " + title);
  std::ifstream in(folder_ / "open-file");
  std::string path;
  if (!std::getline(in, path) || path.empty()) return std::nullopt;
  return path;
}

void ScriptedEditorPlatform::openURL(const std::string& url) {
  record("open " + url);
}

void ScriptedEditorPlatform::openMouseSettings() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  const auto launch = mouseSettingsLaunch(desktop ? desktop : "", platform::isExecutableInPath);
  std::string line = "mouse-settings";
  for (const auto& word : launch.command) line += " " + word;
  if (launch.command.empty()) line += ": " + launch.message;
  record(line);
}

bool ScriptedPackageInstaller::install(const std::filesystem::path& package, std::string* error) {
  std::ofstream out(folder_ / "opened", std::ios::app);
  out << "install " << package.string() << '\n';
  if (!out && error) *error = "cannot record the install in " + folder_.string();
  return static_cast<bool>(out);
}

}  // namespace zv::editor
