#include "Menu.h"

namespace zv::agent {

MenuItem MenuItem::separatorItem() {
  MenuItem item;
  item.separator_ = true;
  item.enabled = false;
  return item;
}

void Menu::update() {
  if (!delegate_) return;
  const int wanted = delegate_->numberOfItemsInMenu(*this);
  items_.resize(wanted > 0 ? static_cast<std::size_t>(wanted) : 0);
  for (std::size_t index = 0; index < items_.size(); ++index) {
    if (!delegate_->menuUpdateItem(*this, items_[index], static_cast<int>(index), false)) break;
  }
  changed();
}

void Menu::replaceItemAtIndex(std::size_t index, MenuItem item) {
  items_.at(index) = std::move(item);
}

bool Menu::performActionForItemAtIndex(std::size_t index) {
  if (index >= items_.size()) return false;
  // A copy: the action may update the menu, which rewrites its items.
  return performAction(MenuItem(items_[index]));
}

bool Menu::performAction(const MenuItem& item) {
  if (item.isSeparatorItem() || !item.enabled || item.action == MenuAction::none || !item.target) {
    return false;
  }
  item.target->performMenuAction(item.action, item);
  return true;
}

void Menu::changed() {
  if (changed_) changed_();
}

}  // namespace zv::agent
