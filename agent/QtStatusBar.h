// The status bar of a desktop session: each status item is a QSystemTrayIcon (a
// StatusNotifierItem on Plasma, GNOME with the AppIndicator extension and most Wayland
// bars; an XEmbed icon on older X11 trays) showing the view's image and tool tip. A left
// click is the view's action; the profile menu is the icon's context menu, which the
// desktop opens on a right click: just before it shows, the view's right action fills it
// (popUpMenu), and the QMenu shows the items of the agent's Menu.
//
// A desktop without a tray (GNOME without the extension) gets the item all the same (Qt
// shows it once a tray appears), and the user is told once how to switch profiles
// without it.
//
// Threads: the GUI thread.
#pragma once

#include <QObject>
#include <memory>

#include "StatusBar.h"
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

  std::unique_ptr<StatusItem> statusItemWithLength() override;
  void popUpMenu(Menu& menu, ZVStatusView& view) override;

  // The icon of the item shown now; null while there is none.
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

  std::unique_ptr<QMenu> contextMenu_;
  Item* shown_ = nullptr;
  Menu* menu_ = nullptr;
  bool fillingForShow_ = false;
  log::LogOnce noTray_;
};

}  // namespace zv::agent
