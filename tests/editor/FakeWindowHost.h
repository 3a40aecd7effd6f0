// A window system for the editor's window logic: records what the logic asks of it and
// lets a test play the pointer.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HTMLWindowHost.h"
#include "ZVHTMLWindow.h"

namespace zv::editor::testing {

class FakeWindowHost : public HTMLWindowHost {
 public:
  struct Delivery {
    MouseDelivery kind;
    Point at;
    bool operator==(const Delivery&) const = default;
  };

  void loadPage(const std::filesystem::path& file) override { loaded.push_back(file); }
  void evaluate(const std::string& script) override { scripts.push_back(script); }
  void evaluateThen(const std::string& script, std::function<void()> done) override {
    scripts.push_back(script);
    done();
  }
  void setVisible(bool on) override { visible = on; }
  bool isVisible() const override { return visible; }
  void activate() override { ++activations; }
  void close() override { closed = true; }
  Rect frame() const override { return currentFrame; }
  void setFrame(const Rect& frame) override { currentFrame = frame; }
  void setFloating(bool on) override { floating = on; }
  double screenHeight() const override { return 1080; }
  Rect availableScreenArea() const override { return available; }
  Point cursorPosition() const override { return cursor; }
  bool buttonDown(int button) const override { return button == 1 ? leftDown : rightDown; }
  bool canPlaceWindows() const override { return placesWindows; }
  void startSystemMove() override { ++systemMoves; }
  void grabPointer(bool grab) override { grabbed = grab; }
  void deliverMouse(MouseDelivery kind, Point at) override { deliveries.push_back({kind, at}); }
  void post(std::function<void()> task) override { posted.push_back(std::move(task)); }
  ZVHTMLWindow* createChildWindow(ZVHTMLWindow&, const std::filesystem::path& file) override {
    auto host = std::make_unique<FakeWindowHost>();
    auto window = std::make_unique<ZVHTMLWindow>(*host, file.parent_path(),
                                                 file.filename().string(), keyboard);
    auto* raw = window.get();
    children.push_back({std::move(host), std::move(window)});
    return raw;
  }

  // Runs the tasks posted so far.
  void runPosted() {
    auto tasks = std::move(posted);
    posted.clear();
    for (auto& task : tasks) task();
  }

  std::vector<std::filesystem::path> loaded;
  std::vector<std::string> scripts;
  bool visible = true;
  int activations = 0;
  bool closed = false;
  Rect currentFrame;
  Rect available{0, 0, 1920, 1080};
  bool floating = false;
  Point cursor;
  bool leftDown = false;
  bool rightDown = false;
  bool placesWindows = true;
  int systemMoves = 0;
  bool grabbed = false;
  std::vector<Delivery> deliveries;
  std::vector<std::function<void()>> posted;
  struct Child {
    std::unique_ptr<FakeWindowHost> host;
    std::unique_ptr<ZVHTMLWindow> window;
  };
  std::vector<Child> children;
  std::shared_ptr<output::ZVKeyboard> keyboard;
};

}  // namespace zv::editor::testing
