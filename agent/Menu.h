// The agent's profile menu as plain data, so that what it shows is decided and tested
// without a display: an ordered list of items (titles, tags, check marks, separators)
// filled by a delegate each time the menu is about to show. The tray (QtStatusBar.h)
// draws it and hands clicks back through performActionForItemAtIndex().
//
// A menu whose delegate answers numberOfItemsInMenu() N first grows (plain items at the
// end) or shrinks (from the end) to N items, then asks the delegate to fill each item
// from index 0 upward. The menu does not enable or disable items by itself
// (autoenablesItems is false): each item keeps the enabled flag its delegate gave it.
//
// Threads: the main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zv::agent {

class Menu;
class MenuItem;

// What choosing an item does: the action sent to the item's target.
enum class MenuAction { none, currentProfileSelect, clearProfile };

// Receives the actions of chosen items.
class MenuTarget {
 public:
  virtual ~MenuTarget() = default;
  virtual void performMenuAction(MenuAction action, const MenuItem& item) = 0;
};

class MenuItem {
 public:
  // A fresh plain item: no title, tag 0, no action, enabled, unchecked.
  MenuItem() = default;
  static MenuItem separatorItem();

  bool isSeparatorItem() const { return separator_; }

  std::string title;
  int tag = 0;
  MenuAction action = MenuAction::none;
  MenuTarget* target = nullptr;
  bool enabled = true;
  // The check mark.
  bool on = false;
  // What the item stands for beyond its title (a profile entry: the profile's name,
  // which the shown title may not be).
  std::string representedObject;

 private:
  bool separator_ = false;
};

// Fills the menu. Both operations are required of a delegate.
class MenuDelegate {
 public:
  virtual ~MenuDelegate() = default;
  virtual int numberOfItemsInMenu(Menu& menu) = 0;
  // Fills `item`, the item at `index`; the delegate may replace that item with
  // menu.replaceItemAtIndex() (then `item` is the new one). Answers false to stop the
  // pass; `shouldCancel` says the menu would rather stop (never set here).
  virtual bool menuUpdateItem(Menu& menu, MenuItem& item, int index, bool shouldCancel) = 0;
};

class Menu {
 public:
  // Called after every change of the items, so that a view can show them again.
  using ChangeHandler = std::function<void()>;

  void setDelegate(MenuDelegate* delegate) { delegate_ = delegate; }
  MenuDelegate* delegate() const { return delegate_; }
  bool autoenablesItems() const { return false; }

  // The pass made each time the menu is about to show (see above). Nothing without a
  // delegate.
  void update();

  const std::vector<MenuItem>& items() const { return items_; }
  std::size_t numberOfItems() const { return items_.size(); }
  MenuItem& itemAtIndex(std::size_t index) { return items_.at(index); }
  void replaceItemAtIndex(std::size_t index, MenuItem item);

  // What a click on the item does: its action sent to its target. False (and nothing
  // done) for an index out of range, a separator, a disabled item or one without action
  // or target.
  bool performActionForItemAtIndex(std::size_t index);
  // The same for an item held apart from the menu (a copy taken when it was clicked).
  static bool performAction(const MenuItem& item);

  void setChangeHandler(ChangeHandler handler) { changed_ = std::move(handler); }

 private:
  void changed();

  MenuDelegate* delegate_ = nullptr;
  std::vector<MenuItem> items_;
  ChangeHandler changed_;
};

}  // namespace zv::agent
