// Lets Qt's event loop drive the library's main run loop: a QSocketNotifier watches the
// run loop's epoll descriptor, which is readable whenever something is due, and
// dispatches it without blocking. Device callbacks, file-watch reports, timers and posted
// tasks thus run on the GUI thread; nothing polls.
#pragma once

class QObject;
class QSocketNotifier;

namespace zv::platform {
class RunLoop;
}

namespace zv::editor {

class RunLoopNotifier {
 public:
  // `loop` must be the GUI thread's loop (RunLoop::main()). The notifier is a child of
  // `parent` and goes away with it.
  RunLoopNotifier(platform::RunLoop& loop, QObject* parent);

 private:
  QSocketNotifier* notifier_;
};

}  // namespace zv::editor
