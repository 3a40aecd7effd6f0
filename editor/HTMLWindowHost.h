// What an HTML window needs from the window system: a page view that loads a file and
// evaluates script text, a borderless window with frame, level and visibility, the
// pointer, and a way to hand synthesized mouse events to the page. The Qt window
// (HTMLWindowWidget) implements it; tests use a recording fake.
//
// Coordinates are screen coordinates with the origin at the top left, in device-
// independent pixels, as the desktop gives them.
//
// Threads: the GUI thread only, like the windows themselves.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace zv::editor {

class ZVHTMLWindow;

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const Rect&) const = default;
};

// A synthesized mouse event for the page.
enum class MouseDelivery { LeftDown, LeftUp, Move };

class HTMLWindowHost {
 public:
  virtual ~HTMLWindowHost() = default;

  // Starts loading the page file; the window hears of the outcome through
  // ZVHTMLWindow::pageLoaded().
  virtual void loadPage(const std::filesystem::path& file) = 0;
  // Evaluates `script` in the page, after every script handed over before it; the result
  // is discarded and the call returns before the script has run.
  virtual void evaluate(const std::string& script) = 0;
  // The same, and `done` runs on the GUI thread once the page has run it.
  virtual void evaluateThen(const std::string& script, std::function<void()> done) = 0;

  virtual void setVisible(bool visible) = 0;
  virtual bool isVisible() const = 0;
  // Brings the window to the front and gives it the keyboard focus.
  virtual void activate() = 0;
  // Closes the window for good.
  virtual void close() = 0;

  virtual Rect frame() const = 0;
  virtual void setFrame(const Rect& frame) = 0;
  // Keeps the window above normal windows (child windows placed by the page).
  virtual void setFloating(bool floating) = 0;

  // The height of the main screen.
  virtual double screenHeight() const = 0;
  // The area of the window's screen that windows may use (without the desktop's panels),
  // in the coordinates of frame().
  virtual Rect availableScreenArea() const = 0;
  // Where the pointer is, and whether a button (1 left, 2 right) is held now.
  virtual Point cursorPosition() const = 0;
  virtual bool buttonDown(int button) const = 0;

  // Whether the window may place itself on the screen (X11 yes, Wayland no).
  virtual bool canPlaceWindows() const = 0;
  // Lets the desktop move the window with the pointer until the left button is released
  // (on Wayland the only way a window may move itself).
  virtual void startSystemMove() = 0;
  // While on, every press, motion and release of the pointer reaches
  // ZVHTMLWindow::onPopupMouse, also outside the window.
  virtual void grabPointer(bool grab) = 0;
  // Hands a synthesized event to the page at `windowPoint` (window coordinates), after
  // the events already queued for it.
  virtual void deliverMouse(MouseDelivery kind, Point windowPoint) = 0;

  // Runs `task` on the GUI thread later, after the work queued before it.
  virtual void post(std::function<void()> task) = 0;

  // A new hidden window loading `file` of the same bundle, child of `parent`; it lives as
  // long as the parent's window. Null when the window system refuses.
  virtual ZVHTMLWindow* createChildWindow(ZVHTMLWindow& parent,
                                          const std::filesystem::path& file) = 0;
};

}  // namespace zv::editor
