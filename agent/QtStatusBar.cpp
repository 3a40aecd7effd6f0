#include "QtStatusBar.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

#include "Menu.h"
#include "ZVStatusView.h"

namespace zv::agent {

using log::ZVLogLevel;

class QtStatusBar::Item : public StatusItem {
 public:
  explicit Item(QtStatusBar& bar) : bar_(bar) {}
  ~Item() override {
    if (bar_.shown_ == this) bar_.shown_ = nullptr;
    if (icon_) icon_->hide();
  }

  void setToolTip(const std::string& toolTip) override {
    itemToolTip_ = QString::fromStdString(toolTip);
    showToolTip();
  }

  void setView(ZVStatusView& view) override {
    view_ = &view;
    if (bar_.iconsShown()) makeIcon();
  }

  // The icon, once the desktop can show it.
  void makeIcon() {
    if (!view_) return;
    if (!icon_) {
      icon_ = std::make_unique<QSystemTrayIcon>();
      icon_->setContextMenu(bar_.contextMenu_.get());
      QObject::connect(icon_.get(), &QSystemTrayIcon::activated,
                       [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && view_) view_->mouseDown();
                       });
    }
    QIcon image;
    if (!view_->image.empty()) image = QIcon(QString::fromStdString(view_->image.string()));
    if (image.isNull()) image = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
    icon_->setIcon(image);
    showToolTip();
    icon_->show();
  }

  ZVStatusView* view() const { return view_; }
  QSystemTrayIcon* icon() const { return icon_.get(); }

 private:
  // The view lies over the item: its tool tip is the one seen, the item's stands in
  // while the view has none.
  void showToolTip() {
    if (!icon_) return;
    const bool own = view_ && !view_->toolTip.empty();
    icon_->setToolTip(own ? QString::fromStdString(view_->toolTip) : itemToolTip_);
  }

  QtStatusBar& bar_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  ZVStatusView* view_ = nullptr;
  QString itemToolTip_;
};

QtStatusBar::QtStatusBar() : contextMenu_(std::make_unique<QMenu>()) {
  QObject::connect(contextMenu_.get(), &QMenu::aboutToShow, [this] { menuAboutToShow(); });
}

QtStatusBar::~QtStatusBar() {
  if (menu_) menu_->setChangeHandler({});
}

void QtStatusBar::watchHosts(std::unique_ptr<platform::BusConnection> bus,
                             std::chrono::milliseconds grace) {
  auto host = TrayHost::open(
      std::move(bus), [this] { hostsChanged(); }, grace);
  if (!host) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "cannot follow the desktop's tray: %@",
           host.failure().message);
    return;
  }
  host_ = std::move(*host);
}

bool QtStatusBar::iconsShown() {
  if (!host_) return true;
  const auto present = host_->present();
  if (present == true) return true;
  // Until the first answer (a moment), nothing is decided.
  if (!present) return false;
  // An X11 system tray shows icons too; asking Qt about it settles Qt's choice, which is
  // right now that no status-notifier host is there.
  if (QGuiApplication::platformName() == "xcb" && QSystemTrayIcon::isSystemTrayAvailable()) {
    host_->shownOtherwise();
    return true;
  }
  return false;
}

void QtStatusBar::hostsChanged() {
  if (shown_ && !shown_->icon() && iconsShown()) shown_->makeIcon();
}

std::unique_ptr<StatusItem> QtStatusBar::statusItemWithLength() {
  if (!host_ && !QSystemTrayIcon::isSystemTrayAvailable()) {
    ZV_LOG_ONCE(noTray_, ZVLogLevel::Critical, nullptr, "%@: %@", TrayHost::noticeSummary(),
                TrayHost::noticeBody());
  }
  auto item = std::make_unique<Item>(*this);
  shown_ = item.get();
  return item;
}

QSystemTrayIcon* QtStatusBar::trayIcon() const {
  return shown_ ? shown_->icon() : nullptr;
}

void QtStatusBar::menuAboutToShow() {
  // The desktop opens the context menu itself; the view's right action fills it first.
  if (!shown_ || !shown_->view()) return;
  fillingForShow_ = true;
  shown_->view()->rightMouseDown();
  fillingForShow_ = false;
}

void QtStatusBar::popUpMenu(Menu& menu, ZVStatusView&) {
  if (menu_ != &menu) {
    if (menu_) menu_->setChangeHandler({});
    menu_ = &menu;
    menu.setChangeHandler([this] {
      if (menu_) showItems(*menu_, *contextMenu_);
    });
  }
  menu.update();
  // Asked for outside a right click of the desktop's (a keyboard shortcut, a test): shown
  // at the pointer.
  if (!fillingForShow_ && !contextMenu_->isVisible()) contextMenu_->popup(QCursor::pos());
}

void QtStatusBar::showItems(Menu& menu, QMenu& target) {
  target.clear();
  for (std::size_t index = 0; index < menu.numberOfItems(); ++index) {
    const MenuItem& item = menu.items()[index];
    if (item.isSeparatorItem()) {
      target.addSeparator();
      continue;
    }
    QString title = QString::fromStdString(item.title);
    title.replace('&', "&&");  // a profile name is not a mnemonic
    QAction* action = target.addAction(title);
    action->setEnabled(item.enabled);
    action->setCheckable(item.on);
    action->setChecked(item.on);
    // The item as it was clicked, performed after the click has been handled: the
    // action may rebuild this very menu.
    QObject::connect(action, &QAction::triggered, &target, [&menu, index, &target] {
      if (index >= menu.numberOfItems()) return;
      QTimer::singleShot(0, &target, [item = menu.items()[index]] { Menu::performAction(item); });
    });
  }
}

}  // namespace zv::agent
