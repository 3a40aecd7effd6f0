// Lets Qt's event loop drive the suite's run loop: a QSocketNotifier watches the run
// loop's epoll descriptor, which is readable whenever something is due, and dispatches
// it without blocking. File-watch reports, device callbacks, timers and child-process
// exits reach the desktop programs (perch, tessel, gable) this way, on the GUI thread.
#pragma once

class QObject;
class QSocketNotifier;

namespace zv::platform {
class RunLoop;
}

namespace zv::desktop {

class RunLoopNotifier {
 public:
  // `loop` must be the GUI thread's loop (RunLoop::main() for the main thread). The
  // notifier is a child of `parent` and goes away with it.
  RunLoopNotifier(platform::RunLoop& loop, QObject* parent);

 private:
  QSocketNotifier* notifier_;
};

}  // namespace zv::desktop
