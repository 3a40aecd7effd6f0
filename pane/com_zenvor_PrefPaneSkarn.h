// The settings window: the software's title and version, whether the tray agent shows
// its status icon ("HideStatusMenu" in the brand's preferences file, which the agent
// watches), a button that opens the editor, and the uninstaller.
//
// The pane reads "Product" (the brand of the preferences file), "ProductTitle" (the
// name of the editor's application folder and of the pane's own, "<title>.prefPane")
// and "CFBundleVersion" from its bundle's Info.plist, and its texts from the bundle's
// "InfoPlist" string tables.
//
// The uninstaller is "<applications>/<ProductTitle>.prefPane/Contents/Resources/
// uninstall.sh", run as "pkexec /bin/sh PATH" in a session of its own, without waiting.
// Once it has started the pane shows its uninstalled state (button disabled, notice
// shown) for as long as it is displayed, so the script runs at most once. When polkit
// refuses or the user dismisses its password dialog, the script never ran and the pane
// returns to its normal state without a word. A path longer than 999 bytes, a missing
// script or a missing pkexec is explained in an alert and changes nothing.
//
// Thread affinity: the GUI thread, which must also dispatch RunLoop::main() (see
// desktop/RunLoopNotifier): preference changes and the uninstaller's end arrive through it.
#pragma once

#include <QWidget>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "support/Bundle.h"
#include "support/NotificationCenter.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace zv::pane {

class com_Zenvor_PreferencesFile_Skarn;

// The return codes of the uninstall confirmation, by button.
inline constexpr int kAlertFirstButtonReturn = 1000;   // "Cancel"
inline constexpr int kAlertSecondButtonReturn = 1001;  // "Uninstall"

// The longest uninstaller path the pane runs, in bytes.
inline constexpr std::size_t kMaximumUninstallPathLength = 999;

// "<applications folder>/<productTitle>.prefPane/Contents/Resources/uninstall.sh", or
// nothing with `error` set when the title cannot name a folder or the path is too long.
std::optional<std::filesystem::path> uninstallScriptPath(const std::string& productTitle,
                                                         std::string* error);

class com_zenvor_PrefPaneSkarn : public QWidget {
 public:
  // Builds the window and runs mainViewDidLoad().
  explicit com_zenvor_PrefPaneSkarn(support::Bundle paneBundle, QWidget* parent = nullptr);
  ~com_zenvor_PrefPaneSkarn() override;

  // Set-up: bundle values, texts, the check box from "HideStatusMenu" (absent: on).
  void mainViewDidLoad();
  // The check box's action: "HideStatusMenu" := !visible, saved at once.
  void setMenuVisible(bool visible);
  // The editor button's action: starts "<applications>/<productTitle>.app".
  void openEditor();
  // The uninstall button's action: the confirmation, as a window-modal alert.
  void onUninstallClick();
  // The end of the confirmation; runs the uninstaller for kAlertSecondButtonReturn.
  void uninstallAlertEnded(int returnCode);
  // Button disabled, notice shown.
  void uninstalledState();

  const std::string& product() const { return product_; }
  const std::string& productTitle() const { return productTitle_; }
  QLabel* titleText() const { return titleText_; }
  QLabel* softwareVersion() const { return softwareVersion_; }
  QLabel* driverVersion() const { return driverVersion_; }
  QCheckBox* menuVisibleChk() const { return menuVisibleChk_; }
  QPushButton* editorButton() const { return editorButton_; }
  QPushButton* uninstallButton() const { return uninstallButton_; }
  QLabel* uninstalledText() const { return uninstalledText_; }

 private:
  QString localized(const char* key, const char* fallback = "") const;
  void normalState();
  void showMenuState();
  void warn(const QString& message);

  support::Bundle bundle_;
  std::string product_;
  std::string productTitle_;
  std::shared_ptr<com_Zenvor_PreferencesFile_Skarn> prefs_;
  support::NotificationCenter::ObserverId prefsObserver_ = 0;
  // Reset when the window goes away, so an uninstaller ending later is ignored.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  QLabel* bannerImage_;
  QLabel* titleText_;
  QLabel* softwareVersion_;
  QLabel* driverVersion_;
  QCheckBox* menuVisibleChk_;
  QPushButton* editorButton_;
  QPushButton* uninstallButton_;
  QLabel* uninstalledText_;
};

}  // namespace zv::pane
