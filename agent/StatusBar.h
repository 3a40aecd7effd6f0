// The desktop's status bar (the tray), reduced to what the agent asks of it: an item that
// holds the status view, the item's removal, and the profile menu popped up at the view.
// QtStatusBar is the real one (a QSystemTrayIcon); HeadlessStatusBar has no tray at all;
// tests use a fake that counts items.
//
// Threads: the main thread only.
#pragma once

#include <memory>
#include <string>

namespace zv::agent {

class Menu;
class ZVStatusView;

// One item in the status bar; it leaves the bar when it is destroyed.
class StatusItem {
 public:
  virtual ~StatusItem() = default;
  virtual void setToolTip(const std::string& toolTip) = 0;
  // The view the item shows; it must outlive the item.
  virtual void setView(ZVStatusView& view) = 0;
};

class StatusBar {
 public:
  virtual ~StatusBar() = default;
  // A new item of variable length, shown in the bar.
  virtual std::unique_ptr<StatusItem> statusItemWithLength() = 0;
  // Pops `menu` up as the context menu of `view`, after filling it (menu.update()).
  virtual void popUpMenu(Menu& menu, ZVStatusView& view) = 0;
};

// A bar without a tray (perch --headless): items exist for the agent's bookkeeping but
// show nothing, and a menu is filled but shown nowhere.
class HeadlessStatusBar : public StatusBar {
 public:
  std::unique_ptr<StatusItem> statusItemWithLength() override;
  void popUpMenu(Menu& menu, ZVStatusView& view) override;
};

}  // namespace zv::agent
