#include "ZVHTMLWindow.h"

#include <algorithm>

#include "log/Log.h"
#include "log/LogFormat.h"
#include "output/ZVKeyboard.h"

namespace zv::editor {

namespace {

using log::ZVLogLevel;

// Shared by every HTML window: the pointer moved over a window since the last pop-up was
// shown, and the buttons as the pop-up logic saw them. GUI thread only.
bool gMoved = false;
bool lmbDown = false;
bool rmbDown = false;

constexpr double kInitialWidth = 900;
constexpr double kInitialHeight = 675;
// The window first stands with its lower edge 10 below the screen's lower edge, at the
// left; the main window then restores its saved frame.
constexpr double kInitialBottomOverhang = 10;

}  // namespace

ZVHTMLWindow::ZVHTMLWindow(HTMLWindowHost& host, std::filesystem::path resourceFolder,
                           const std::string& file, std::shared_ptr<output::ZVKeyboard> keyboard)
    : host_(host), resourceFolder_(std::move(resourceFolder)), keyboard_(std::move(keyboard)) {
  host_.setVisible(false);
  host_.setFrame({0, host_.screenHeight() - kInitialHeight + kInitialBottomOverhang, kInitialWidth,
                  kInitialHeight});
  if (auto path = pageFile(file)) host_.loadPage(*path);
  if (!keyboard_) keyboard_ = std::make_shared<output::ZVKeyboard>();
}

ZVHTMLWindow::~ZVHTMLWindow() {
  *alive_ = false;
  if (keyboardCallback_) keyboard_->cancelTap();
}

std::optional<std::filesystem::path> ZVHTMLWindow::pageFile(const std::string& file) const {
  const std::filesystem::path relative(file);
  const auto normal = relative.lexically_normal();
  if (file.empty() || relative.is_absolute() || normal.empty() || *normal.begin() == "..") {
    ZV_LOG(ZVLogLevel::Error, nullptr, "page file %@ refused: not a file of %@", file,
           resourceFolder_.string());
    return std::nullopt;
  }
  return resourceFolder_ / normal;
}

void ZVHTMLWindow::invokeJavascript(const std::string& script) {
  host_.evaluate(script);
}

void ZVHTMLWindow::pageLoaded(bool ok, const std::string& error) {
  if (!ok) log::systemLogNotice("%@", error.empty() ? std::string("page load failed") : error);
}

// --- Dragging and the pop-up --------------------------------------------------------------

void ZVHTMLWindow::startWindowDrag() {
  if (!host_.canPlaceWindows()) {
    host_.startSystemMove();
    return;
  }
  inDrag_ = true;
  const Rect frame = host_.frame();
  const Point mouse = host_.cursorPosition();
  dragOffset_ = {mouse.x - frame.x, mouse.y - frame.y};
  mouseTapRunning_ = true;
  host_.grabPointer(true);
}

void ZVHTMLWindow::cancelMouseTap() {
  if (mouseTapRunning_) host_.grabPointer(false);
  mouseTapRunning_ = false;
  inDrag_ = false;
}

void ZVHTMLWindow::setIsVisible(bool visible) {
  cancelMouseTap();
  host_.setVisible(visible);
}

void ZVHTMLWindow::displayAtMouseWithSize(std::uint32_t width, std::uint32_t height) {
  gMoved = false;
  canHideOnMouse_ = true;
  keyWindow_ = true;
  hideOnMouse_ = false;
  const Point mouse = host_.cursorPosition();
  // Hanging below the pointer: the top edge at the pointer, starting 100 to its left.
  host_.setFrame({mouse.x - kPopupLeftOffset, mouse.y, static_cast<double>(width),
                  static_cast<double>(height)});
  host_.setVisible(true);
  host_.activate();
  lmbDown = host_.buttonDown(1);
  rmbDown = host_.buttonDown(2);
  mouseTapRunning_ = true;
  host_.grabPointer(true);
}

void ZVHTMLWindow::mouseMovedOverWindow() {
  gMoved = true;
}

bool ZVHTMLWindow::movedSincePopup() {
  return gMoved;
}

void ZVHTMLWindow::resetSharedPointerState() {
  gMoved = lmbDown = rmbDown = false;
}

bool ZVHTMLWindow::onMouse(std::uint32_t usage, std::int32_t value, Point position) {
  if (canHideOnMouse_) {
    popupEvent(usage, value, position);
  } else if (inDrag_) {
    host_.setFrame({position.x - dragOffset_.x, position.y - dragOffset_.y, host_.frame().width,
                    host_.frame().height});
    if (usage == 1 && value == 0) cancelMouseTap();
  }
  return true;
}

void ZVHTMLWindow::popupEvent(std::uint32_t usage, std::int32_t value, Point position) {
  const Rect frame = host_.frame();
  const Point at{position.x - frame.x, position.y - frame.y};
  MouseDelivery deliver = MouseDelivery::Move;
  if (value != 0) {
    (usage == 1 ? lmbDown : rmbDown) = true;
    deliver = MouseDelivery::LeftDown;
  } else if (usage == 1 && lmbDown) {
    host_.deliverMouse(MouseDelivery::LeftDown, at);
    lmbDown = false;
    deliver = MouseDelivery::LeftUp;
  } else if (usage == 2) {
    host_.deliverMouse(MouseDelivery::LeftDown, at);
    rmbDown = false;
    deliver = MouseDelivery::LeftUp;
  }
  if (!lmbDown && !rmbDown) {
    if (gMoved && !hideOnMouse_) {
      host_.post([this, alive = alive_] {
        if (*alive) setIsVisible(false);
      });
    } else {
      hideOnMouse_ = true;
    }
  } else {
    hideOnMouse_ = false;
  }
  host_.deliverMouse(deliver, at);
}

// --- Children -------------------------------------------------------------------------------

std::uint32_t ZVHTMLWindow::createChildWindowWithArguments(const json::Value& arguments) {
  const json::Value* file =
      arguments.isDictionary() ? arguments.asDictionary()->find("file") : nullptr;
  if (!file || !file->isString()) return static_cast<std::uint32_t>(childWindows_.size());
  if (auto path = pageFile(file->asString())) {
    if (ZVHTMLWindow* child = host_.createChildWindow(*this, *path)) {
      child->setParent(this);
      childWindows_.push_back(child);
    }
  }
  return static_cast<std::uint32_t>(childWindows_.size());
}

ZVHTMLWindow* ZVHTMLWindow::childWindow(std::int64_t child) const {
  if (child < 1 || child > static_cast<std::int64_t>(childWindows_.size())) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "no child window %@ (the window has %@)", child,
           childWindows_.size());
    return nullptr;
  }
  return childWindows_[static_cast<std::size_t>(child - 1)];
}

void ZVHTMLWindow::displayChildWindow(std::int64_t child, std::int32_t x, std::int32_t y) {
  ZVHTMLWindow* window = childWindow(child);
  if (!window) return;
  const Rect frame = host_.frame();
  // (x, y) is where the child's lower left corner goes, measured from this window's top
  // left corner.
  window->host().setFrame({frame.x + x, frame.y + y - kChildHeight, kChildWidth, kChildHeight});
  window->host().setFloating(true);
}

void ZVHTMLWindow::setChildWindowIsVisible(std::int64_t child, bool visible) {
  if (ZVHTMLWindow* window = childWindow(child)) window->setIsVisible(visible);
}

void ZVHTMLWindow::invokeJavascriptOnChildWindow(const std::string& script, std::int64_t child) {
  if (ZVHTMLWindow* window = childWindow(child)) window->invokeJavascript(script);
}

void ZVHTMLWindow::invokeJavascriptOnParentWindow(const std::string& script) {
  if (parent_) parent_->invokeJavascript(script);
}

void ZVHTMLWindow::close() {
  cancelMouseTap();
  stopKeyTapJS();
  host_.close();
}

// --- Key tap ----------------------------------------------------------------------------------

void ZVHTMLWindow::startKeyTapJS(const std::string& functionName) {
  if (keyboardCallback_) keyboard_->cancelTap();
  lastEventTime_ = 0;
  keyboardCallback_ = functionName;
  keyboard_->tap(
      [this, alive = std::weak_ptr<bool>(alive_)](std::uint32_t page, std::uint32_t usage,
                                                  std::uint32_t value, std::uint64_t timeMs) {
        if (auto flag = alive.lock(); flag && *flag) {
          onKey(page, usage, value, static_cast<std::uint32_t>(timeMs));
        }
      });
}

void ZVHTMLWindow::stopKeyTapJS() {
  if (!keyboardCallback_) return;
  keyboardCallback_.reset();
  keyboard_->cancelTap();
}

void ZVHTMLWindow::onKey(std::uint32_t page, std::uint32_t usage, std::uint32_t value,
                         std::uint32_t time) {
  if (!keyboardCallback_) return;
  const std::uint32_t elapsed = lastEventTime_ != 0 ? time - lastEventTime_ : 0;
  lastEventTime_ = time;
  invokeJavascript(log::formatLog("%@(%@, %@, %@, %@)", *keyboardCallback_,
                                  static_cast<std::int32_t>(page), static_cast<std::int32_t>(usage),
                                  static_cast<std::int32_t>(value),
                                  static_cast<std::int32_t>(elapsed)));
}

}  // namespace zv::editor
