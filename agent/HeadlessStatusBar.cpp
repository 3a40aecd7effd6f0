#include "Menu.h"
#include "StatusBar.h"

namespace zv::agent {

namespace {

class InvisibleItem : public StatusItem {
 public:
  void setToolTip(const std::string&) override {}
  void setView(ZVStatusView&) override {}
};

}  // namespace

std::unique_ptr<StatusItem> HeadlessStatusBar::statusItemWithLength() {
  return std::make_unique<InvisibleItem>();
}

void HeadlessStatusBar::popUpMenu(Menu& menu, ZVStatusView&) {
  menu.update();
}

}  // namespace zv::agent
