// The tray under Qt's offscreen platform: the agent's status item as a QSystemTrayIcon
// (shown, hidden by "HideStatusMenu", shown again), and the profile menu as the icon's
// context menu, whose entries trigger the agent's actions.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include "AgentTestSupport.h"
#include "QtStatusBar.h"
#include "desktop/RunLoopNotifier.h"
#include "platform/RunLoop.h"

namespace zv::agent::testing {
namespace {

using std::string;
using std::vector;

// The context menu's entries: "-" for a separator, "*" before a checked one.
vector<string> entries(const QMenu& menu) {
  vector<string> titles;
  for (const QAction* action : menu.actions()) {
    if (action->isSeparator()) {
      titles.push_back("-");
    } else {
      titles.push_back((action->isChecked() ? "*" : "") + action->text().toStdString());
    }
  }
  return titles;
}

// Runs Qt's loop (which also dispatches the library's run loop) until `condition` holds.
bool waitForQt(const std::function<bool()>& condition) {
  return platform::RunLoop::main().runUntil(
      [&] {
        QApplication::processEvents();
        return condition();
      },
      std::chrono::seconds(10));
}

class TrayTest : public AgentTest {};

TEST_F(TrayTest, TheItemFollowsHideStatusMenuAndItsMenuRunsTheAgentsActions) {
  installDemoBundle();
  auto tray = std::make_shared<QtStatusBar>();
  launchAndWaitForProfile(tray);

  QSystemTrayIcon* icon = tray->trayIcon();
  ASSERT_NE(icon, nullptr);
  EXPECT_TRUE(icon->isVisible());
  EXPECT_FALSE(icon->icon().isNull());
  EXPECT_EQ(icon->toolTip().toStdString(), "Demo Mouse") << "the view's tool tip is seen";
  EXPECT_EQ(icon->contextMenu(), tray->contextMenu());

  postHideStatusMenu(1);
  EXPECT_EQ(tray->trayIcon(), nullptr);
  postHideStatusMenu(0);
  postHideStatusMenu(0);
  ASSERT_NE(tray->trayIcon(), nullptr);
  EXPECT_TRUE(tray->trayIcon()->isVisible());

  // The desktop opens the context menu on a right click; it is filled just before.
  QMenu* menu = tray->contextMenu();
  Q_EMIT menu->aboutToShow();
  EXPECT_EQ(entries(*menu), (vector<string>{"*Zenvor Standard", "-", "Turn Off"}));

  menu->actions().at(2)->trigger();
  ASSERT_TRUE(waitForQt([&] { return agent->noProfile(); }));
  EXPECT_EQ(entries(*menu), (vector<string>{"Zenvor Standard", "-", "Turn Off"}))
      << "the shown menu was not brought up to date";

  Q_EMIT menu->aboutToShow();
  menu->actions().at(0)->trigger();
  ASSERT_TRUE(waitForQt([&] { return !agent->noProfile(); }));
  Q_EMIT menu->aboutToShow();
  EXPECT_EQ(entries(*menu), (vector<string>{"*Zenvor Standard", "-", "Turn Off"}));

  // A left click opens the editor.
  Q_EMIT tray->trayIcon()->activated(QSystemTrayIcon::Trigger);
  EXPECT_EQ(launched.size(), 1u);

  agent->applicationWillTerminate();
  EXPECT_EQ(tray->trayIcon(), nullptr);
}

}  // namespace
}  // namespace zv::agent::testing

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  zv::desktop::RunLoopNotifier notifier(zv::platform::RunLoop::main(), &application);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
