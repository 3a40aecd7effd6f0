// One window of the editor: an HTML page in a borderless, transparent window, the page
// drawing everything visible. The window binds itself into the page as the script
// object "editor" (see the bridge in EditorScriptObject.h) and offers the page
// window-level services: dragging the window, showing it as a pop-up at the pointer,
// child windows addressed by number, script calls between parent and children, and
// the key tap forwarded to a page function.
//
// This class is the window's logic; the window system behind it is an HTMLWindowHost
// (the Qt window in the application, a recording fake in tests).
//
// Script operations (names as the page calls them on "editor"):
//
//   startWindowDrag()                     the window follows the pointer until the left
//                                         button is released
//   close()                               closes the window
//   startKeyTap(fn) / stopKeyTap()        global key events reach the page as
//                                         fn(usagePage, usage, value, elapsedMs)
//   setIsVisible(bool)                    ends a drag or pop-up gesture, shows or hides
//   displayAtMouseWithSize(w, h)          shows the window as a pop-up below the pointer
//   createHTMLWindow({file: "x.html"})    a hidden child window loading a file of the same
//                                         bundle; answers the number of children, which is
//                                         the new child's number (1, 2, 3, …)
//   displayChildWindowAtPosition(n, x, y) places child n: its lower left corner x, y from
//                                         this window's top left corner, 500 × 66, above
//                                         normal windows; does not show it
//   setChildWindowIsVisible(n, bool)      shows or hides child n
//   invokeJSOnChildWindow(text, n)        evaluates text in child n's page
//   invokeJSOnParent(text)                evaluates text in the parent's page (none: nothing)
//   hideChildren(), log(text)             do nothing
//
// A child number outside 1..childCount() is refused: nothing happens and the log says so.
// A page file name that is absolute or leads out of the bundle's resources with ".." is
// refused the same way, so a page cannot load files from elsewhere on the disk.
//
// Dragging: where the desktop lets a window place itself (X11) the window grabs the
// pointer and follows it, keeping the offset it had when the drag started; a right-button
// release does not end the drag, the left one does. Where it does not (Wayland) the
// desktop moves the window (HTMLWindowHost::startSystemMove).
//
// Pop-up: displayAtMouseWithSize grabs the pointer, so the window receives the whole
// press–drag–release gesture even outside its frame, as left-button events at the
// pointer's position in window coordinates; after a release, once the pointer has been
// over a pop-up, the pop-up hides itself (queued on the GUI thread).
//
// Threads: the GUI thread. The key tap's callbacks run on the main run loop, which the
// GUI thread dispatches.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HTMLWindowHost.h"
#include "json/Value.h"

namespace zv::output {
class ZVKeyboard;
}

namespace zv::editor {

class ZVHTMLWindow {
 public:
  // Size and place of a child window made by displayChildWindowAtPosition.
  static constexpr double kChildWidth = 500;
  static constexpr double kChildHeight = 66;
  // A pop-up starts this far left of the pointer.
  static constexpr double kPopupLeftOffset = 100;

  // initWithFile:inBundle:. Loads `file` from `resourceFolder` through `host` (which must
  // outlive the window) and keeps the window hidden. `keyboard` owns the key tap (a
  // ZVKeyboard on the process's tap services when null).
  ZVHTMLWindow(HTMLWindowHost& host, std::filesystem::path resourceFolder, const std::string& file,
               std::shared_ptr<output::ZVKeyboard> keyboard = nullptr);
  virtual ~ZVHTMLWindow();
  ZVHTMLWindow(const ZVHTMLWindow&) = delete;
  ZVHTMLWindow& operator=(const ZVHTMLWindow&) = delete;

  // --- Script operations ----------------------------------------------------------------
  void startWindowDrag();
  virtual void close();
  void startKeyTapJS(const std::string& functionName);
  void stopKeyTapJS();
  void setIsVisible(bool visible);
  void displayAtMouseWithSize(std::uint32_t width, std::uint32_t height);
  // Answers the number of children after the call.
  std::uint32_t createChildWindowWithArguments(const json::Value& arguments);
  void displayChildWindow(std::int64_t child, std::int32_t x, std::int32_t y);
  void setChildWindowIsVisible(std::int64_t child, bool visible);
  void invokeJavascriptOnChildWindow(const std::string& script, std::int64_t child);
  void invokeJavascriptOnParentWindow(const std::string& script);
  void hideChildren() {}
  void log(const std::string& /*text*/) {}

  // --- For the rest of the editor -------------------------------------------------------
  // Evaluates the text in the page; the result is discarded (see HTMLWindowHost::evaluate).
  void invokeJavascript(const std::string& script);
  ZVHTMLWindow* parent() const { return parent_; }
  void setParent(ZVHTMLWindow* parent) { parent_ = parent; }
  std::size_t childCount() const { return childWindows_.size(); }
  // Child n (1-based); null when there is none.
  ZVHTMLWindow* childWindow(std::int64_t child) const;
  const std::filesystem::path& resourceFolder() const { return resourceFolder_; }
  HTMLWindowHost& host() const { return host_; }
  // Whether the window may take the keyboard focus (set by pop-up mode; the editor's main
  // window always may).
  virtual bool canBecomeKeyWindow() const { return keyWindow_; }

  // --- From the window system -----------------------------------------------------------
  // The page's globals were created (the bridge is bound in them); before pageLoaded.
  virtual void pageGlobalsCreated() {}
  // The page finished loading (ok) or failed; a failure goes to the system log and
  // changes nothing.
  virtual void pageLoaded(bool ok, const std::string& error);
  // The pointer moved over the window itself.
  void mouseMovedOverWindow();
  // A pointer event while the pointer is grabbed: `usage` 1 left button, 2 right button,
  // 0 a motion (value 0); `value` 1 press, 0 release; `position` on the screen. Answers
  // true (the event was taken).
  bool onMouse(std::uint32_t usage, std::int32_t value, Point position);
  // One key of the key tap: usage page, usage, value, time in milliseconds.
  void onKey(std::uint32_t page, std::uint32_t usage, std::uint32_t value, std::uint32_t time);

  // State, for the window system and tests.
  bool inDrag() const { return inDrag_; }
  bool popupMode() const { return canHideOnMouse_; }
  bool keyTapRunning() const { return keyboardCallback_.has_value(); }
  const std::optional<std::string>& keyboardCallback() const { return keyboardCallback_; }
  // The flags shared by every HTML window of the process (GUI thread only).
  static bool movedSincePopup();
  static void resetSharedPointerState();

 private:
  // The file below the resource folder, or nothing (and a log line) when `file` is
  // absolute or leads out of it.
  std::optional<std::filesystem::path> pageFile(const std::string& file) const;
  void cancelMouseTap();
  void popupEvent(std::uint32_t usage, std::int32_t value, Point position);

  HTMLWindowHost& host_;
  std::filesystem::path resourceFolder_;
  std::vector<ZVHTMLWindow*> childWindows_;  // owned by their window system objects
  ZVHTMLWindow* parent_ = nullptr;
  std::shared_ptr<output::ZVKeyboard> keyboard_;
  std::optional<std::string> keyboardCallback_;
  std::uint32_t lastEventTime_ = 0;
  bool mouseTapRunning_ = false;
  bool inDrag_ = false;
  Point dragOffset_;
  bool canHideOnMouse_ = false;
  bool hideOnMouse_ = false;
  bool keyWindow_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zv::editor
