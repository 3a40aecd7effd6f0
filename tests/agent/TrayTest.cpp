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
#include "platform/linux/BusConnection.h"
#include "testing/PrivateBus.h"

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

// The desktop's side on a private bus: a notification server that keeps the summaries
// it is sent, and a status-notifier watcher with a host, which the test makes appear.
class DesktopStandIn {
 public:
  explicit DesktopStandIn(const std::filesystem::path& folder) {
    std::string why;
    bus_ = zv::testing::PrivateBus::start(folder, &why);
    EXPECT_TRUE(bus_) << why;
    if (!bus_) return;
    auto connection = platform::BusConnection::open(platform::RunLoop::main(), bus_->address());
    EXPECT_TRUE(connection);
    if (connection) connection_ = std::move(*connection);
  }
  bool ready() const { return connection_ != nullptr; }
  const std::string& address() const { return bus_->address(); }

  void offer(const char* name, const char* path, const char* interface,
             const sd_bus_vtable* vtable) {
    sd_bus_slot* slot = nullptr;
    EXPECT_GE(sd_bus_add_object_vtable(connection_->bus(), &slot, path, interface, vtable, this),
              0);
    slots_.emplace_back(slot);
    EXPECT_GE(sd_bus_request_name(connection_->bus(), name, 0), 0);
    connection_->update();
  }
  void offerNotifications() {
    static const sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", notify, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    offer("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
          "org.freedesktop.Notifications", kVtable);
  }
  void offerWatcherWithHost() {
    static const sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("IsStatusNotifierHostRegistered", "b", hostRegistered, 0,
                        SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_VTABLE_END};
    offer("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
          "org.kde.StatusNotifierWatcher", kVtable);
  }

  vector<string> summaries;

 private:
  static int notify(sd_bus_message* m, void* self, sd_bus_error*) {
    const char *application, *icon, *summary;
    std::uint32_t replaces;
    if (sd_bus_message_read(m, "suss", &application, &replaces, &icon, &summary) > 0) {
      static_cast<DesktopStandIn*>(self)->summaries.emplace_back(summary);
    }
    return sd_bus_reply_method_return(m, "u", 1u);
  }
  static int hostRegistered(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                            void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "b", 1);
  }

  std::unique_ptr<zv::testing::PrivateBus> bus_;
  std::unique_ptr<platform::BusConnection> connection_;
  std::vector<platform::BusSlot> slots_;
};

TEST_F(TrayTest, WithoutAStatusIconHostTheUserIsToldOnceAndTheIconComesWithTheHost) {
  installDemoBundle();
  DesktopStandIn desktop(tree.path("bus"));
  ASSERT_TRUE(desktop.ready());
  desktop.offerNotifications();
  auto tray = std::make_shared<QtStatusBar>();
  auto bus = platform::BusConnection::open(platform::RunLoop::main(), desktop.address());
  ASSERT_TRUE(bus);
  tray->watchHosts(std::move(*bus), std::chrono::milliseconds(0));
  launchAndWaitForProfile(tray);

  ASSERT_TRUE(waitForQt([&] { return !desktop.summaries.empty(); }));
  EXPECT_EQ(desktop.summaries, vector<string>{TrayHost::noticeSummary()});
  EXPECT_EQ(tray->trayIcon(), nullptr) << "no icon before a host can show it";

  desktop.offerWatcherWithHost();
  ASSERT_TRUE(waitForQt([&] { return tray->trayIcon() != nullptr; }));
  EXPECT_TRUE(tray->trayIcon()->isVisible());
  EXPECT_EQ(tray->trayIcon()->toolTip().toStdString(), "Demo Mouse");
  EXPECT_EQ(desktop.summaries.size(), 1u) << "said once";
  agent->applicationWillTerminate();
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
