#include "com_zenvor_PrefPaneSkarn.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <system_error>

#include "com_Zenvor_PreferencesFile_Skarn.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/SpawnProcess.h"

namespace zv::pane {

namespace fs = std::filesystem;

namespace {

// pkexec's answers when no command ran: the user dismissed the password dialog (126),
// or polkit refused (127).
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

QString qt(const std::string& text) {
  return QString::fromStdString(text);
}

std::string infoText(const support::Bundle& bundle, std::string_view key) {
  const json::Value value = bundle.objectForInfoDictionaryKey(key);
  return value.isString() ? value.asString() : std::string();
}

// The program inside an application folder: its "CFBundleExecutable" in Contents/Linux.
std::optional<fs::path> applicationExecutable(const fs::path& application) {
  const support::Bundle bundle(application);
  std::string name = infoText(bundle, "CFBundleExecutable");
  if (!isPlainName(name)) return std::nullopt;
  const fs::path executable = application / "Contents" / "Linux" / name;
  std::error_code ec;
  if (!fs::is_regular_file(executable, ec)) return std::nullopt;
  return executable;
}

}  // namespace

std::optional<fs::path> uninstallScriptPath(const std::string& productTitle, std::string* error) {
  if (!isPlainName(productTitle)) {
    if (error) *error = "The product title \"" + productTitle + "\" cannot name a folder.";
    return std::nullopt;
  }
  const fs::path path = platform::applicationsFolder() / (productTitle + ".prefPane") / "Contents" /
                        "Resources" / "uninstall.sh";
  if (path.native().size() > kMaximumUninstallPathLength) {
    if (error) {
      *error = "The uninstaller's path is longer than " +
               std::to_string(kMaximumUninstallPathLength) + " bytes: " + path.string();
    }
    return std::nullopt;
  }
  return path;
}

com_zenvor_PrefPaneSkarn::com_zenvor_PrefPaneSkarn(support::Bundle paneBundle, QWidget* parent)
    : QWidget(parent), bundle_(std::move(paneBundle)) {
  bannerImage_ = new QLabel(this);
  titleText_ = new QLabel(this);
  QFont titleFont = titleText_->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
  titleFont.setBold(true);
  titleText_->setFont(titleFont);
  softwareVersion_ = new QLabel(this);
  driverVersion_ = new QLabel(this);
  menuVisibleChk_ = new QCheckBox(this);
  editorButton_ = new QPushButton(this);
  uninstallButton_ = new QPushButton(this);
  uninstalledText_ = new QLabel(this);
  uninstalledText_->setWordWrap(true);

  auto* versions = new QFormLayout;
  versions->addRow(localized("SoftwareVersionLabel", "Software version:"), softwareVersion_);
  versions->addRow(localized("DriverVersionLabel", "Driver version:"), driverVersion_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(editorButton_);
  buttons->addStretch();
  buttons->addWidget(uninstallButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(bannerImage_);
  layout->addWidget(titleText_);
  layout->addLayout(versions);
  layout->addWidget(menuVisibleChk_);
  layout->addLayout(buttons);
  layout->addWidget(uninstalledText_);
  layout->addStretch();

  if (const auto banner = bundle_.pathForResource("banner.png")) {
    bannerImage_->setPixmap(QPixmap(qt(banner->string())));
  } else {
    bannerImage_->hide();
  }
  mainViewDidLoad();
}

com_zenvor_PrefPaneSkarn::~com_zenvor_PrefPaneSkarn() {
  *alive_ = false;
  if (prefsObserver_) support::NotificationCenter::defaultCenter().removeObserver(prefsObserver_);
}

QString com_zenvor_PrefPaneSkarn::localized(const char* key, const char* fallback) const {
  return qt(bundle_.localizedString(key, fallback, "InfoPlist"));
}

void com_zenvor_PrefPaneSkarn::mainViewDidLoad() {
  product_ = infoText(bundle_, "Product");
  productTitle_ = infoText(bundle_, "ProductTitle");
  titleText_->setText(qt(productTitle_ + " Software"));
  setWindowTitle(titleText_->text());
  menuVisibleChk_->setText(localized("ShowStatusMenu", "Show the status icon"));
  editorButton_->setText(localized("OpenEditor", "Open Editor…"));
  uninstallButton_->setText(localized("UninstallButton", "Uninstall…"));
  uninstalledText_->setText(
      localized("UninstalledText", "The software is being removed. You can close this window."));

  QObject::connect(uninstallButton_, &QPushButton::clicked, this, [this] { onUninstallClick(); });
  QObject::connect(editorButton_, &QPushButton::clicked, this, [this] { openEditor(); });
  QObject::connect(menuVisibleChk_, &QCheckBox::clicked, this,
                   [this](bool checked) { setMenuVisible(checked); });
  normalState();

  // Another program (the agent's menu, kinetra prefs) may change the file while the
  // window is open; the check box follows.
  prefsObserver_ = support::NotificationCenter::defaultCenter().addObserver(
      std::string(ZVPreferencesUpdatedNotification),
      [this, alive = alive_](const support::Notification&) {
        if (*alive) showMenuState();
      });
  prefs_ = com_Zenvor_PreferencesFile_Skarn::preferenceFileForBrand(product_);
  showMenuState();

  const QString version = qt(infoText(bundle_, "CFBundleVersion"));
  softwareVersion_->setText(version);
  driverVersion_->setText(version);
}

void com_zenvor_PrefPaneSkarn::showMenuState() {
  const json::DictionaryPtr prefs = prefs_ ? prefs_->prefs() : nullptr;
  menuVisibleChk_->setEnabled(prefs != nullptr);
  if (!prefs_) {
    menuVisibleChk_->setToolTip(qt("No preferences file for the brand \"" + product_ + "\"."));
  } else if (!prefs) {
    menuVisibleChk_->setToolTip(qt("Cannot read " + prefs_->readError() +
                                   ". Remove the file to start with empty preferences."));
  } else {
    menuVisibleChk_->setToolTip({});
  }
  const json::Value* hide = prefs ? prefs->find("HideStatusMenu") : nullptr;
  const bool hidden = hide && hide->isNumber() && hide->asNumber() != 0;
  menuVisibleChk_->setChecked(!hidden);
}

void com_zenvor_PrefPaneSkarn::setMenuVisible(bool visible) {
  const json::DictionaryPtr prefs = prefs_ ? prefs_->prefs() : nullptr;
  if (!prefs) {
    showMenuState();
    return;
  }
  prefs->set("HideStatusMenu", json::Value::boolean(!visible));
  std::string error;
  if (!prefs_->save(&error)) {
    warn(qt("The setting could not be saved: " + error));
  }
}

void com_zenvor_PrefPaneSkarn::openEditor() {
  const fs::path application = platform::applicationsFolder() / (productTitle_ + ".app");
  std::error_code ec;
  if (!isPlainName(productTitle_) || !fs::is_directory(application, ec)) {
    warn(qt("The editor is not installed: " + application.string() + " was not found."));
    return;
  }
  const auto executable = applicationExecutable(application);
  if (!executable) {
    warn(qt("The editor at " + application.string() +
            " is damaged: its Info.plist names no program in Contents/Linux."));
    return;
  }
  platform::SpawnOptions options;
  options.newSession = true;
  options.nullInput = true;
  if (const auto started =
          platform::spawnProcess({executable->string()}, options, platform::RunLoop::main());
      !started) {
    warn(qt("The editor could not be started: " + started.failure().message));
  }
}

void com_zenvor_PrefPaneSkarn::onUninstallClick() {
  auto* alert = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                localized("UninstallConfirmation"), QMessageBox::NoButton, this);
  alert->setInformativeText(localized("UninstallInformation"));
  QPushButton* cancel = alert->addButton(localized("Cancel"), QMessageBox::RejectRole);
  QPushButton* uninstall = alert->addButton(localized("Uninstall"), QMessageBox::DestructiveRole);
  alert->setDefaultButton(cancel);
  alert->setWindowModality(Qt::WindowModal);
  alert->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(alert, &QMessageBox::finished, this, [this, alert, uninstall] {
    uninstallAlertEnded(alert->clickedButton() == uninstall ? kAlertSecondButtonReturn
                                                            : kAlertFirstButtonReturn);
  });
  alert->open();
}

void com_zenvor_PrefPaneSkarn::uninstallAlertEnded(int returnCode) {
  if (returnCode != kAlertSecondButtonReturn || !uninstallButton_->isEnabled()) return;
  std::string error;
  const auto script = uninstallScriptPath(productTitle_, &error);
  if (!script) {
    warn(qt(error));
    return;
  }
  std::error_code ec;
  if (!fs::is_regular_file(*script, ec)) {
    warn(qt("The uninstaller is missing: " + script->string() +
            ". Remove the software with your package manager instead."));
    return;
  }
  platform::SpawnOptions options;
  options.newSession = true;  // the removal goes on if this window closes
  options.nullInput = true;
  const auto started = platform::spawnProcess(
      {"pkexec", "/bin/sh", script->string()}, options, platform::RunLoop::main(),
      [this, alive = alive_](const platform::ChildExit& exit) {
        if (!*alive) return;
        if (exit.exited &&
            (exit.status == kPkexecDismissed || exit.status == kPkexecNotAuthorized)) {
          normalState();
        }
      });
  if (!started) {
    warn(qt("The uninstaller could not be started: " + started.failure().message));
    return;
  }
  uninstalledState();
}

void com_zenvor_PrefPaneSkarn::uninstalledState() {
  uninstalledText_->show();
  uninstallButton_->setEnabled(false);
}

void com_zenvor_PrefPaneSkarn::normalState() {
  uninstalledText_->hide();
  uninstallButton_->setEnabled(true);
}

void com_zenvor_PrefPaneSkarn::warn(const QString& message) {
  auto* alert =
      new QMessageBox(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
  alert->setWindowModality(Qt::WindowModal);
  alert->setAttribute(Qt::WA_DeleteOnClose);
  alert->open();
}

}  // namespace zv::pane
