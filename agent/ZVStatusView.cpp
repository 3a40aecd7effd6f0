#include "ZVStatusView.h"

namespace zv::agent {

void ZVStatusView::mouseDown() const {
  if (action) action();
}

void ZVStatusView::rightMouseDown() const {
  if (rightAction) rightAction();
}

}  // namespace zv::agent
