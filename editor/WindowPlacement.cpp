#include "WindowPlacement.h"

#include <algorithm>

namespace zv::editor {

Rect fitOnScreen(const Rect& frame, const Rect& available) {
  if (available.width <= 0 || available.height <= 0) return frame;
  Rect out = frame;
  out.width = std::min(frame.width, available.width);
  out.height = std::min(frame.height, available.height);
  out.x = std::clamp(frame.x, available.x, available.x + available.width - out.width);
  out.y = std::clamp(frame.y, available.y, available.y + available.height - out.height);
  return out;
}

std::uint8_t resizeEdgesAt(Point point, double width, double height, double border) {
  if (point.x < 0 || point.y < 0 || point.x >= width || point.y >= height) return 0;
  std::uint8_t edges = 0;
  if (point.x < border) edges |= kLeftEdge;
  if (point.x >= width - border) edges |= kRightEdge;
  if (point.y < border) edges |= kTopEdge;
  if (point.y >= height - border) edges |= kBottomEdge;
  return edges;
}

}  // namespace zv::editor
