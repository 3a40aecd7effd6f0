// The settings window, run once under Qt's offscreen platform: the status-icon check box
// and the preferences file, the editor button, and the uninstall confirmation with a
// stand-in pkexec that records how it was called.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <chrono>
#include <cstdlib>
#include <functional>

#include "RunLoopNotifier.h"
#include "com_Zenvor_PreferencesFile_Skarn.h"
#include "com_zenvor_PrefPaneSkarn.h"
#include "platform/RunLoop.h"
#include "support/PropertyList.h"
#include "testing/TemporaryTree.h"

using namespace zv::pane;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 10'000ms;  // only a broken watch or a lost child reaches it
const std::string kPrefs = "home/.config/com.zenvor.Kinetra.Zenvor.plist";
const std::string kPane = "Applications/Zenvor Editor.prefPane/Contents/Resources/uninstall.sh";

// Spins Qt's event loop (which dispatches the run loop through the notifier) until
// `condition` holds.
bool waitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

void makeExecutable(const zv::testing::TemporaryTree& tree, const std::string& relative,
                    const std::string& script) {
  ::chmod(tree.write(relative, script).c_str(), 0755);
}

QMessageBox* openAlert(QWidget& pane) {
  for (auto* box : pane.findChildren<QMessageBox*>()) {
    if (box->isVisible()) return box;
  }
  return nullptr;
}

void click(QMessageBox& box, const QString& text) {
  for (auto* button : box.buttons()) {
    if (button->text() == text) {
      button->click();
      return;
    }
  }
  ADD_FAILURE() << "no button " << text.toStdString();
}

class PaneWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    com_Zenvor_PreferencesFile_Skarn::forgetProcessInstanceForTesting();
    // A stand-in pkexec: records its arguments, answers $FAKE_PKEXEC_STATUS.
    makeExecutable(tree, "bin/pkexec",
                   "#!/bin/sh\necho \"$@\" >> \"" + tree.path("pkexec.log").string() +
                       "\"\nexit ${FAKE_PKEXEC_STATUS:-0}\n");
    savedPath_ = std::getenv("PATH");
    ::setenv("PATH", (tree.path("bin").string() + ":" + savedPath_).c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    ::unsetenv("FAKE_PKEXEC_STATUS");
    com_Zenvor_PreferencesFile_Skarn::forgetProcessInstanceForTesting();
  }

  std::unique_ptr<com_zenvor_PrefPaneSkarn> openPane() {
    auto pane = std::make_unique<com_zenvor_PrefPaneSkarn>(zv::support::Bundle(ZV_PANE_BUNDLE));
    pane->show();
    return pane;
  }

  std::optional<bool> hideStatusMenu() {
    const auto plist = zv::support::readPropertyListFile(tree.path(kPrefs));
    if (!plist || !plist->isDictionary()) return std::nullopt;
    const auto* value = plist->asDictionary()->find("HideStatusMenu");
    if (!value) return std::nullopt;
    return value->asBoolean();
  }

  zv::testing::TemporaryTree tree;
  std::string savedPath_;
};

TEST_F(PaneWindowTest, ShowsTheBundlesTitleAndVersions) {
  auto pane = openPane();
  EXPECT_EQ(pane->product(), "Zenvor");
  EXPECT_EQ(pane->productTitle(), "Zenvor Editor");
  EXPECT_EQ(pane->titleText()->text(), "Zenvor Editor Software");
  EXPECT_EQ(pane->softwareVersion()->text(), QString(ZV_VERSION));
  EXPECT_EQ(pane->driverVersion()->text(), QString(ZV_VERSION));
  EXPECT_TRUE(pane->uninstallButton()->isEnabled());
  EXPECT_FALSE(pane->uninstalledText()->isVisible());
}

TEST_F(PaneWindowTest, TheCheckBoxWritesHideStatusMenu) {
  auto pane = openPane();
  EXPECT_TRUE(pane->menuVisibleChk()->isChecked()) << "no file yet: the icon shows";
  EXPECT_EQ(hideStatusMenu(), std::nullopt) << "the file is created empty";

  pane->menuVisibleChk()->click();
  EXPECT_EQ(hideStatusMenu(), true);
  pane->menuVisibleChk()->click();
  EXPECT_EQ(hideStatusMenu(), false);

  // Another program saves the file: the check box follows.
  auto prefs = zv::json::makeDictionary();
  prefs->set("HideStatusMenu", zv::json::Value::boolean(true));
  prefs->set("Other", zv::json::Value("kept"));
  ASSERT_TRUE(zv::support::writePropertyListFile(tree.path(kPrefs), zv::json::Value(prefs)));
  ASSERT_TRUE(waitFor([&] { return !pane->menuVisibleChk()->isChecked(); }));
  pane->menuVisibleChk()->click();
  EXPECT_EQ(hideStatusMenu(), false);
  EXPECT_EQ(zv::support::readPropertyListFile(tree.path(kPrefs))
                ->asDictionary()
                ->find("Other")
                ->asString(),
            "kept");
}

TEST_F(PaneWindowTest, StartsHiddenWhenTheFileSaysSo) {
  tree.write(kPrefs, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>HideStatusMenu</key><true/></dict></plist>)");
  auto pane = openPane();
  EXPECT_FALSE(pane->menuVisibleChk()->isChecked());
}

TEST_F(PaneWindowTest, ADamagedFileIsLeftAlone) {
  tree.write(kPrefs, "<plist><dict><key>Hide");
  auto pane = openPane();
  EXPECT_FALSE(pane->menuVisibleChk()->isEnabled());
  EXPECT_NE(pane->menuVisibleChk()->toolTip().toStdString().find("Remove the file"),
            std::string::npos);
  pane->setMenuVisible(false);
  EXPECT_EQ(tree.read(kPrefs), "<plist><dict><key>Hide");
}

TEST_F(PaneWindowTest, UninstallsOnceAfterConfirmation) {
  makeExecutable(tree, kPane, "#!/bin/sh\n");
  auto pane = openPane();

  pane->uninstallButton()->click();
  QMessageBox* alert = openAlert(*pane);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->text(), "Remove the mouse software from this computer?");
  click(*alert, "Cancel");
  EXPECT_TRUE(pane->uninstallButton()->isEnabled()) << "Cancel does nothing";

  pane->uninstallButton()->click();
  alert = openAlert(*pane);
  ASSERT_TRUE(alert);
  click(*alert, "Uninstall");
  EXPECT_FALSE(pane->uninstallButton()->isEnabled());
  EXPECT_TRUE(pane->uninstalledText()->isVisible());
  // The stand-in creates its log before it writes the line: wait for the whole line.
  const std::string started = "/bin/sh " + tree.path(kPane).string() + "\n";
  ASSERT_TRUE(waitFor([&] {
    return std::filesystem::exists(tree.path("pkexec.log")) && tree.read("pkexec.log") == started;
  }));

  // However it is asked, the script is not started a second time.
  pane->uninstallAlertEnded(kAlertSecondButtonReturn);
  EXPECT_FALSE(openAlert(*pane));
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(tree.read("pkexec.log"), started);
  EXPECT_FALSE(pane->uninstallButton()->isEnabled());
}

TEST_F(PaneWindowTest, RefusedRightsLeaveThePaneAsItWas) {
  makeExecutable(tree, kPane, "#!/bin/sh\n");
  ::setenv("FAKE_PKEXEC_STATUS", "126", 1);  // the password dialog was dismissed
  auto pane = openPane();
  pane->uninstallAlertEnded(kAlertSecondButtonReturn);
  EXPECT_FALSE(pane->uninstallButton()->isEnabled());
  ASSERT_TRUE(waitFor([&] { return pane->uninstallButton()->isEnabled(); }));
  EXPECT_FALSE(pane->uninstalledText()->isVisible());
  EXPECT_FALSE(openAlert(*pane)) << "nothing is shown";
}

TEST_F(PaneWindowTest, AnUninstallerThatCannotRunIsExplained) {
  auto pane = openPane();
  pane->uninstallAlertEnded(kAlertSecondButtonReturn);  // no script installed
  QMessageBox* alert = openAlert(*pane);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->text().toStdString(),
            "The uninstaller is missing: " + tree.path(kPane).string() +
                ". Remove the software with your package manager instead.");
  alert->close();
  EXPECT_TRUE(pane->uninstallButton()->isEnabled());

  // The path limit: 999 bytes.
  const std::string longFolder =
      tree.path(std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(200, 'c') +
                "/" + std::string(200, 'd') + "/" + std::string(150, 'e'))
          .string();
  ::setenv("KINETRA_APPLICATIONS", longFolder.c_str(), 1);
  std::string error;
  EXPECT_FALSE(uninstallScriptPath("Zenvor Editor", &error));
  EXPECT_EQ(error.rfind("The uninstaller's path is longer than 999 bytes: ", 0), 0u);
  pane->uninstallAlertEnded(kAlertSecondButtonReturn);
  alert = openAlert(*pane);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->text().toStdString(), error);
  EXPECT_TRUE(pane->uninstallButton()->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(tree.path("pkexec.log")));
  EXPECT_FALSE(uninstallScriptPath("../x", &error));
}

TEST_F(PaneWindowTest, TheEditorButtonStartsTheEditor) {
  auto pane = openPane();
  pane->editorButton()->click();
  QMessageBox* alert = openAlert(*pane);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->text().toStdString(),
            "The editor is not installed: " + tree.path("Applications/Zenvor Editor.app").string() +
                " was not found.");
  alert->close();

  tree.write("Applications/Zenvor Editor.app/Contents/Info.plist",
             "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>tessel</string>"
             "</dict></plist>");
  makeExecutable(tree, "Applications/Zenvor Editor.app/Contents/Linux/tessel",
                 "#!/bin/sh\ntouch \"" + tree.path("editor-started").string() + "\"\n");
  pane->editorButton()->click();
  EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(tree.path("editor-started")); }));
  EXPECT_FALSE(openAlert(*pane));
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("LANG", "C", 1);
  ::unsetenv("LANGUAGE");
  QApplication application(argc, argv);
  RunLoopNotifier notifier(zv::platform::RunLoop::main(), &application);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
