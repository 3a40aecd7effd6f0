#include "HTMLWindowWidget.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWindow>

#include "IconProtocol.h"
#include "ScriptObjects.h"
#include "WindowPlacement.h"
#include "ZVHTMLWindow.h"
#include "platform/RunLoop.h"

namespace zv::editor {

namespace {

// How far in from its edges the main window resizes when dragged.
constexpr double kResizeBorder = 6;

// The channel object the start-up script reports to. Not part of the page interface.
constexpr const char* kPageReadyObject = "tesselPage";

// Runs in every page before its own scripts: makes the channel's objects globals and
// reports that the page's globals exist.
constexpr const char* kStartupScript = R"JS(
(function () {
  if (typeof qt === 'undefined' || !qt.webChannelTransport) return;
  new QWebChannel(qt.webChannelTransport, function (channel) {
    window.editor = channel.objects.editor;
    if (channel.objects.device) window.device = channel.objects.device;
    channel.objects.tesselPage.ready();
  });
})();
)JS";

QString webChannelScript() {
  QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace

ZVHTMLView::ZVHTMLView(QWidget* parent) : QWebEngineView(parent) {
  setContextMenuPolicy(Qt::NoContextMenu);
}

void ZVHTMLView::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
}

HTMLWindowWidget::HTMLWindowWidget(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      view_(new ZVHTMLView(this)),
      channel_(new QWebChannel(this)) {
  setAttribute(Qt::WA_TranslucentBackground);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);

  IconProtocol::registerIconProtocol(view_->page()->profile());
  // The page alone decides what is visible.
  view_->page()->setBackgroundColor(Qt::transparent);
  view_->page()->setWebChannel(channel_);

  QWebEngineScript script;
  script.setName(QStringLiteral("tessel-bridge"));
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(false);
  script.setSourceCode(webChannelScript() + QString::fromUtf8(kStartupScript));
  view_->page()->scripts().insert(script);

  channel_->registerObject(QString::fromUtf8(kPageReadyObject),
                           new PageReadyObject([this] { pageReady(); }, this));

  connect(view_->page(), &QWebEnginePage::loadingChanged, this,
          [this](const QWebEngineLoadingInfo& info) {
            switch (info.status()) {
              case QWebEngineLoadingInfo::LoadStartedStatus:
                globalsReady_ = loadDone_ = false;
                break;
              case QWebEngineLoadingInfo::LoadSucceededStatus:
                loadFinished(true, {});
                break;
              case QWebEngineLoadingInfo::LoadFailedStatus:
                loadFinished(false, info.errorString() + " (" + info.url().toString() + ")");
                break;
              default:
                break;
            }
          });
}

HTMLWindowWidget::~HTMLWindowWidget() = default;

void HTMLWindowWidget::adopt(std::shared_ptr<ZVHTMLWindow> window, QObject* editor,
                             QObject* device) {
  window_ = std::move(window);
  channel_->registerObject(QStringLiteral("editor"), editor);
  if (device) channel_->registerObject(QStringLiteral("device"), device);
}

void HTMLWindowWidget::setFrameObserver(std::function<void(const Rect&)> observer) {
  frameObserver_ = std::move(observer);
}

void HTMLWindowWidget::setCloseObserver(std::function<void()> observer) {
  closeObserver_ = std::move(observer);
}

void HTMLWindowWidget::pageReady() {
  globalsReady_ = true;
  if (window_) window_->pageGlobalsCreated();
  if (loadDone_ && window_) window_->pageLoaded(true, {});
}

void HTMLWindowWidget::loadFinished(bool ok, const QString& error) {
  if (!ok) {
    if (window_) window_->pageLoaded(false, error.toStdString());
    return;
  }
  loadDone_ = true;
  if (globalsReady_ && window_) window_->pageLoaded(true, {});
}

// --- HTMLWindowHost ---------------------------------------------------------------------------

void HTMLWindowWidget::loadPage(const std::filesystem::path& file) {
  view_->load(QUrl::fromLocalFile(QString::fromStdString(file.string())));
}

void HTMLWindowWidget::evaluate(const std::string& script) {
  view_->page()->runJavaScript(QString::fromStdString(script));
}

void HTMLWindowWidget::evaluateThen(const std::string& script, std::function<void()> done) {
  view_->page()->runJavaScript(
      QString::fromStdString(script),
      [guard = QPointer<HTMLWindowWidget>(this), done = std::move(done)](const QVariant&) {
        if (guard) done();
      });
}

void HTMLWindowWidget::setVisible(bool visible) {
  QWidget::setVisible(visible);
}

bool HTMLWindowWidget::isVisible() const {
  return QWidget::isVisible();
}

void HTMLWindowWidget::activate() {
  raise();
  activateWindow();
}

void HTMLWindowWidget::close() {
  closing_ = true;
  QWidget::close();
}

Rect HTMLWindowWidget::frame() const {
  const QRect g = geometry();
  return {static_cast<double>(g.x()), static_cast<double>(g.y()), static_cast<double>(g.width()),
          static_cast<double>(g.height())};
}

void HTMLWindowWidget::setFrame(const Rect& frame) {
  setGeometry(static_cast<int>(frame.x), static_cast<int>(frame.y), static_cast<int>(frame.width),
              static_cast<int>(frame.height));
}

void HTMLWindowWidget::setFloating(bool floating) {
  const bool shown = QWidget::isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, floating);
  // Changing the flags hides the window; it keeps its visibility.
  if (shown) show();
}

Rect HTMLWindowWidget::availableScreenArea() const {
  const QScreen* at = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!at) return {};
  const QRect area = at->availableGeometry();
  return {static_cast<double>(area.x()), static_cast<double>(area.y()),
          static_cast<double>(area.width()), static_cast<double>(area.height())};
}

double HTMLWindowWidget::screenHeight() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().height() : 0;
}

Point HTMLWindowWidget::cursorPosition() const {
  const QPoint at = QCursor::pos();
  return {static_cast<double>(at.x()), static_cast<double>(at.y())};
}

bool HTMLWindowWidget::buttonDown(int button) const {
  const auto buttons = QGuiApplication::mouseButtons();
  return button == 1 ? buttons.testFlag(Qt::LeftButton) : buttons.testFlag(Qt::RightButton);
}

bool HTMLWindowWidget::canPlaceWindows() const {
  return !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

void HTMLWindowWidget::startSystemMove() {
  if (QWindow* handle = windowHandle()) handle->startSystemMove();
}

void HTMLWindowWidget::grabPointer(bool grab) {
  if (grab == grabbing_) return;
  grabbing_ = grab;
  setMouseTracking(grab);
  if (grab) {
    grabMouse();
  } else {
    releaseMouse();
  }
}

void HTMLWindowWidget::deliverMouse(MouseDelivery kind, Point windowPoint) {
  QWidget* target = view_->focusProxy() ? view_->focusProxy() : view_;
  const QPointF local = target->mapFrom(this, QPointF(windowPoint.x, windowPoint.y));
  const QPointF global = mapToGlobal(QPointF(windowPoint.x, windowPoint.y));
  QEvent::Type type = QEvent::MouseMove;
  Qt::MouseButton button = Qt::NoButton;
  Qt::MouseButtons buttons = Qt::NoButton;
  if (kind == MouseDelivery::LeftDown) {
    type = QEvent::MouseButtonPress;
    button = Qt::LeftButton;
    buttons = Qt::LeftButton;
  } else if (kind == MouseDelivery::LeftUp) {
    type = QEvent::MouseButtonRelease;
    button = Qt::LeftButton;
  }
  QCoreApplication::postEvent(
      target, new QMouseEvent(type, local, local, global, button, buttons, Qt::NoModifier));
}

void HTMLWindowWidget::post(std::function<void()> task) {
  platform::RunLoop::main().post(
      [guard = QPointer<HTMLWindowWidget>(this), task = std::move(task)] {
        if (guard) task();
      });
}

ZVHTMLWindow* HTMLWindowWidget::createChildWindow(ZVHTMLWindow& /*parent*/,
                                                  const std::filesystem::path& file) {
  auto* child = new HTMLWindowWidget(this);
  auto logic = std::make_shared<ZVHTMLWindow>(*child, file.parent_path(), file.filename().string());
  auto* editor = new HTMLWindowScriptObject(*logic, child);
  child->adopt(logic, editor);
  return logic.get();
}

// --- Pointer while grabbed --------------------------------------------------------------------

namespace {

std::uint32_t usageOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return 1;
    case Qt::RightButton:
      return 2;
    default:
      return 0;
  }
}

Point globalPoint(const QMouseEvent* event) {
  return {event->globalPosition().x(), event->globalPosition().y()};
}

}  // namespace

void HTMLWindowWidget::mousePressEvent(QMouseEvent* event) {
  if (grabbing_ && window_ && usageOf(event->button()) != 0) {
    window_->onMouse(usageOf(event->button()), 1, globalPoint(event));
    return;
  }
  QWidget::mousePressEvent(event);
}

void HTMLWindowWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (grabbing_ && window_ && usageOf(event->button()) != 0) {
    window_->onMouse(usageOf(event->button()), 0, globalPoint(event));
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

void HTMLWindowWidget::mouseMoveEvent(QMouseEvent* event) {
  if (grabbing_ && window_) {
    if (rect().contains(event->position().toPoint())) window_->mouseMovedOverWindow();
    window_->onMouse(0, 0, globalPoint(event));
    return;
  }
  QWidget::mouseMoveEvent(event);
}

bool HTMLWindowWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == watchedViewWidget_) {
    if (event->type() == QEvent::MouseMove && window_) window_->mouseMovedOverWindow();
    if (edgeEvent(event)) return true;
  }
  return QWidget::eventFilter(watched, event);
}

bool HTMLWindowWidget::edgeEvent(QEvent* event) {
  // Only the main window resizes: children and pop-ups keep the size their page asks for.
  if (parentWidget() || grabbing_ || !watchedViewWidget_) return false;
  const auto type = event->type();
  if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress) return false;
  const auto* mouse = static_cast<QMouseEvent*>(event);
  const QPointF at = mapFromGlobal(mouse->globalPosition());
  const auto edges = resizeEdgesAt({at.x(), at.y()}, width(), height(), kResizeBorder);
  if (type == QEvent::MouseMove) {
    if (mouse->buttons() != Qt::NoButton) return false;
    const bool diagonal = edges == (kLeftEdge | kTopEdge) || edges == (kRightEdge | kBottomEdge);
    const bool otherDiagonal =
        edges == (kRightEdge | kTopEdge) || edges == (kLeftEdge | kBottomEdge);
    const bool sideways = edges & (kLeftEdge | kRightEdge);
    if (edges == 0) {
      watchedViewWidget_->unsetCursor();
    } else {
      watchedViewWidget_->setCursor(diagonal        ? Qt::SizeFDiagCursor
                                    : otherDiagonal ? Qt::SizeBDiagCursor
                                    : sideways      ? Qt::SizeHorCursor
                                                    : Qt::SizeVerCursor);
    }
    return false;
  }
  if (edges == 0 || mouse->button() != Qt::LeftButton) return false;
  QWindow* handle = windowHandle();
  if (!handle) return false;
  Qt::Edges qtEdges;
  if (edges & kLeftEdge) qtEdges |= Qt::LeftEdge;
  if (edges & kRightEdge) qtEdges |= Qt::RightEdge;
  if (edges & kTopEdge) qtEdges |= Qt::TopEdge;
  if (edges & kBottomEdge) qtEdges |= Qt::BottomEdge;
  return handle->startSystemResize(qtEdges);
}

void HTMLWindowWidget::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  reportFrame();
}

void HTMLWindowWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The page's own widget appears once the page renders: watch its pointer motion.
  if (QWidget* proxy = view_->focusProxy(); proxy && proxy != watchedViewWidget_) {
    watchedViewWidget_ = proxy;
    proxy->setMouseTracking(true);
    proxy->installEventFilter(this);
  }
  reportFrame();
}

void HTMLWindowWidget::reportFrame() {
  if (frameObserver_ && QWidget::isVisible()) frameObserver_(frame());
}

void HTMLWindowWidget::closeEvent(QCloseEvent* event) {
  if (!closing_ && window_) {
    // Closed by the desktop (a key or the window menu): the logic closes it, so the page
    // hears of it first.
    event->ignore();
    window_->close();
    return;
  }
  grabPointer(false);
  QWidget::closeEvent(event);
  if (closeObserver_) closeObserver_();
}

}  // namespace zv::editor
