// The Qt window behind an HTML window: a frameless, translucent top-level widget whose
// only content is the page view (ZVHTMLView), with the page's script objects published
// on a web channel. It implements HTMLWindowHost for the window's logic (ZVHTMLWindow or
// ZVEditorWindow), which it owns.
//
// Every page gets Qt's qwebchannel.js and a start-up script injected before its own
// scripts run; the start-up script publishes the channel's objects as the globals
// `editor` and `device` and reports back, so the logic hears pageGlobalsCreated() and,
// once the page has also finished loading, pageLoaded().
//
// Threads: the GUI thread.
#pragma once

#include <QPointer>
#include <QWebEngineView>
#include <QWidget>
#include <functional>
#include <memory>

#include "HTMLWindowHost.h"

class QWebChannel;

namespace zv::editor {

class ZVHTMLWindow;

// The page view: no context menu, first click goes to the page.
class ZVHTMLView : public QWebEngineView {
 public:
  explicit ZVHTMLView(QWidget* parent);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
};

class HTMLWindowWidget : public QWidget, public HTMLWindowHost {
 public:
  explicit HTMLWindowWidget(QWidget* parent = nullptr);
  ~HTMLWindowWidget() override;

  // Takes the window's logic and publishes `editor` (and `device`, when given) to its
  // pages; call once, right after making the logic on this host.
  void adopt(std::shared_ptr<ZVHTMLWindow> window, QObject* editor, QObject* device = nullptr);
  ZVHTMLWindow* window() const { return window_.get(); }
  ZVHTMLView* view() const { return view_; }
  // Called whenever the user or the desktop moved or resized the window.
  void setFrameObserver(std::function<void(const Rect&)> observer);
  // Called once the window has closed.
  void setCloseObserver(std::function<void()> observer);

  // HTMLWindowHost
  void loadPage(const std::filesystem::path& file) override;
  void evaluate(const std::string& script) override;
  void evaluateThen(const std::string& script, std::function<void()> done) override;
  void setVisible(bool visible) override;
  bool isVisible() const override;
  void activate() override;
  void close() override;
  Rect frame() const override;
  void setFrame(const Rect& frame) override;
  void setFloating(bool floating) override;
  double screenHeight() const override;
  Rect availableScreenArea() const override;
  Point cursorPosition() const override;
  bool buttonDown(int button) const override;
  bool canPlaceWindows() const override;
  void startSystemMove() override;
  void grabPointer(bool grab) override;
  void deliverMouse(MouseDelivery kind, Point windowPoint) override;
  void post(std::function<void()> task) override;
  ZVHTMLWindow* createChildWindow(ZVHTMLWindow& parent, const std::filesystem::path& file) override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void pageReady();
  void loadFinished(bool ok, const QString& error);
  void reportFrame();
  // Resizing from the edges of the frameless window (the page covers it all).
  bool edgeEvent(QEvent* event);

  ZVHTMLView* view_;
  QWebChannel* channel_;
  std::shared_ptr<ZVHTMLWindow> window_;
  bool globalsReady_ = false;
  bool loadDone_ = false;
  bool grabbing_ = false;
  bool closing_ = false;  // the logic closes the window
  std::function<void(const Rect&)> frameObserver_;
  std::function<void()> closeObserver_;
  QPointer<QWidget> watchedViewWidget_;
};

}  // namespace zv::editor
