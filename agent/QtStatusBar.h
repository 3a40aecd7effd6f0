// The status bar of a desktop session: each status item is a QSystemTrayIcon (a
// StatusNotifierItem on Plasma, GNOME with the AppIndicator extension and most Wayland
// bars; an XEmbed icon on older X11 trays) showing the view's image and tool tip. A left
// click is the view's action; the profile menu is the icon's context menu, which the
// desktop opens on a right click: just before it shows, the view's right action fills it
// (popUpMenu), and the QMenu shows the items of the agent's Menu.
//
// Qt decides once, at its first tray icon, whether the desktop shows status-notifier
// icons. With watchHosts(), the item's icon is therefore made only once a host is there
// (TrayHost) or, on X11, a system tray is; until then the item exists without an icon,
// and the user is told once how to get one (GNOME without a status-icon extension).
//
// Threads: the GUI thread.
#pragma once

#include <QObject>
#include <memory>

#include "StatusBar.h"
#include "TrayHost.h"
#include "log/Log.h"

class QMenu;
class QSystemTrayIcon;

namespace zv::agent {

class QtStatusBar : public StatusBar {
 public:
  QtStatusBar();
  ~QtStatusBar() override;
  QtStatusBar(const QtStatusBar&) = delete;
  QtStatusBar& operator=(const QtStatusBar&) = delete;

  // Follows the status-notifier hosts on `bus` (the session bus) before any icon is
  // made. Without it, icons are made at once.
  void watchHosts(std::unique_ptr<platform::BusConnection> bus,
                  std::chrono::milliseconds grace = TrayHost::kGrace);
  const TrayHost* trayHost() const { return host_.get(); }

  std::unique_ptr<StatusItem> statusItemWithLength() override;
  void popUpMenu(Menu& menu, ZVStatusView& view) override;

  // The icon of the item shown now; null while there is none (no item, or the desktop
  // cannot show it yet).
  QSystemTrayIcon* trayIcon() const;
  // The context menu every item carries; it shows the items of the last menu popped up.
  QMenu* contextMenu() const { return contextMenu_.get(); }

  // Rebuilds `target` from the items of `menu`; a chosen entry performs its item's action
  // once the click has been handled.
  static void showItems(Menu& menu, QMenu& target);

 private:
  class Item;
  friend class Item;
  void menuAboutToShow();
  // Whether the desktop shows icons now (see above).
  bool iconsShown();
  void hostsChanged();

  std::unique_ptr<QMenu> contextMenu_;
  Item* shown_ = nullptr;
  Menu* menu_ = nullptr;
  bool fillingForShow_ = false;
  log::LogOnce noTray_;
  std::unique_ptr<TrayHost> host_;
};

}  // namespace zv::agent
