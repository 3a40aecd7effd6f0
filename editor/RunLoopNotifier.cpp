#include "RunLoopNotifier.h"

#include <QSocketNotifier>

#include "platform/RunLoop.h"

namespace zv::editor {

RunLoopNotifier::RunLoopNotifier(platform::RunLoop& loop, QObject* parent)
    : notifier_(new QSocketNotifier(loop.fd(), QSocketNotifier::Read, parent)) {
  QObject::connect(notifier_, &QSocketNotifier::activated, [&loop] { loop.dispatchPending(); });
}

}  // namespace zv::editor
