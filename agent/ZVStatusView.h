// The view shown in the agent's status item: the "MenuIcon" picture, a tool tip, and two
// actions: `action` for a left click (the editor) and `rightAction` for a right click or
// a control-click (the profile menu). It is plain data; the status bar (StatusBar.h)
// draws it and reports the clicks through mouseDown() and rightMouseDown().
//
// Threads: the main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace zv::agent {

class ZVStatusView {
 public:
  // The view's frame: origin 0,0, this wide and high; the image fills it.
  static constexpr int kWidth = 22;
  static constexpr int kHeight = 24;

  ZVStatusView() = default;
  ZVStatusView(const ZVStatusView&) = delete;
  ZVStatusView& operator=(const ZVStatusView&) = delete;

  // Empty when the resource was not found: the status bar then shows a stock picture.
  std::filesystem::path image;
  std::string toolTip;
  std::function<void()> action;
  std::function<void()> rightAction;

  // A left click, or a right one: the matching action when set.
  void mouseDown() const;
  void rightMouseDown() const;
};

}  // namespace zv::agent
